' Reads an insurance card through qzCardReader and prints the card holder's data.
'
'   cscript //nologo read_card.vbs [PORT] [WAITINGTIME]
'
' PORT is the number n of COMn (default 1); WAITINGTIME how often the terminal is asked for a
' card (default 10). The last line is "Result: N NAME"; the exit code is 0 when the card was read,
' 1 for any other result and 2 when an error was raised.
Option Explicit

' enmCardReaderType and enmReturnValue (scripts do not see the type library's constants).
Const CRT_CommPort = 2
Const RV_ReadSuccessful = 0
Dim ResultNames
ResultNames = Array("RV_ReadSuccessful", "RV_CardRemovedDuringReading", "RV_Error", _
                    "RV_WrongCard", "RV_UserCanceled", "RV_NoCardInserted", "RV_NoReaderResponding")

Dim port, waiting, reader, result, card
port = 1
waiting = 10
If WScript.Arguments.Count > 0 Then port = CInt(WScript.Arguments(0))
If WScript.Arguments.Count > 1 Then waiting = CInt(WScript.Arguments(1))

Set reader = CreateObject("qzCardReader.clsApplication")
reader.CommPort = port
reader.WaitingTime = waiting

' ReadCard shows the progress window and returns when the read has ended. It raises an error
' only when it could not read at all (no port set, port missing or in use, ...).
On Error Resume Next
result = reader.ReadCard(CRT_CommPort)
If Err.Number <> 0 Then
  WScript.Echo "Error " & Err.Number & " (" & Err.Source & "): " & Err.Description
  WScript.Quit 2
End If
On Error GoTo 0

' KVKData is Nothing after a cancelled read or when no terminal answered.
Set card = reader.KVKData
If Not card Is Nothing Then
  WScript.Echo "KrankenKassenName: " & card.KrankenKassenName
  WScript.Echo "KrankenKassenNummer: " & card.KrankenKassenNummer
  WScript.Echo "VKNR: " & card.VKNR
  WScript.Echo "VersichertenNummer: " & card.VersichertenNummer
  WScript.Echo "VersichertenStatus: " & card.VersichertenStatus
  WScript.Echo "StatusErgaenzung: " & card.StatusErgaenzung
  WScript.Echo "Titel: " & card.Titel
  WScript.Echo "Vorname: " & card.Vorname
  WScript.Echo "NamensZusatz: " & card.NamensZusatz
  WScript.Echo "FamilienName: " & card.FamilienName
  WScript.Echo "Geburtsdatum: " & card.Geburtsdatum
  WScript.Echo "StrassenName: " & card.StrassenName
  WScript.Echo "LaenderCode: " & card.LaenderCode
  WScript.Echo "PostLeitzahl: " & card.PostLeitzahl
  WScript.Echo "OrtsName: " & card.OrtsName
  WScript.Echo "Gueltigkeit: " & card.Gueltigkeit
  WScript.Echo "Checksum: " & card.Checksum
End If
WScript.Echo "Result: " & result & " " & ResultNames(result)
If result = RV_ReadSuccessful Then WScript.Quit 0
WScript.Quit 1
