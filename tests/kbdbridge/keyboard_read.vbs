' A keyboard read through qzCardReader.dll as a host makes it: ReadCard(CRT_Tastatur) with the
' waiting time 5, against the stand-in keyboard library in the scenario that KBDBRIDGE_SCENARIO
' selects. Arguments: the scenario's name, and the text the stand-in's error 7 carries.
' The caller checks what lands outside the script (recorded time-out, error log).
Option Explicit
Const CRT_Tastatur = 1
Const RV_ReadSuccessful = 0
Const RV_NoCardInserted = 5
Dim app, r, d, failures, scenario, text, savedNumber, savedSource, savedDescription
failures = 0
scenario = WScript.Arguments(0)
text = WScript.Arguments(1)

Sub Check(cond, what)
  If Not cond Then
    WScript.Echo "FAIL (" & scenario & "): " & what
    failures = failures + 1
  End If
End Sub

Function AllEmpty(rec)
  AllEmpty = rec.KrankenKassenName & rec.KrankenKassenNummer & rec.VKNR & _
    rec.VersichertenNummer & rec.VersichertenStatus & rec.StatusErgaenzung & rec.Titel & _
    rec.Vorname & rec.NamensZusatz & rec.FamilienName & rec.Geburtsdatum & rec.StrassenName & _
    rec.LaenderCode & rec.PostLeitzahl & rec.OrtsName & rec.Gueltigkeit & rec.Checksum = ""
End Function

On Error Resume Next
Set app = CreateObject("qzCardReader.clsApplication")
Check Err.Number = 0, "create: " & Err.Number & " " & Err.Description
app.WaitingTime = 5
r = app.ReadCard(CRT_Tastatur)
savedNumber = Err.Number
savedSource = Err.Source
savedDescription = Err.Description
Err.Clear
Set d = app.KVKData
Check Err.Number = 0 And Not (d Is Nothing), "KVKData after the read"

Select Case scenario
  Case "success"
    Check savedNumber = 0, "error " & savedNumber & " " & savedDescription
    Check r = RV_ReadSuccessful, "ReadCard returned " & r
    Check d.KrankenKassenName = "Testkasse S" & ChrW(252) & "d", "KrankenKassenName"
    Check d.VersichertenNummer = "A123456789", "VersichertenNummer " & d.VersichertenNummer
    Check d.Vorname = "J" & ChrW(252) & "rgen", "Vorname"
    Check d.FamilienName = "M" & ChrW(252) & ChrW(223) & "iggang", "FamilienName"
    Check d.StrassenName = "Hauptstra" & ChrW(223) & "e 12a", "StrassenName"
    Check d.Gueltigkeit = "12/29", "Gueltigkeit " & d.Gueltigkeit
    Check d.KrankenKassenNummer = "", "KrankenKassenNummer not empty"
    Check d.Checksum = "", "Checksum not empty"
  Case "unreadable"
    Check savedNumber = 0, "error " & savedNumber & " " & savedDescription
    Check r = RV_NoCardInserted, "ReadCard returned " & r
    Check AllEmpty(d), "record not empty"
  Case "error7"
    Check savedNumber = -2147221502, "Err.Number " & savedNumber
    Check savedSource = "mKeyboard_CherryError", "Err.Source " & savedSource
    Check savedDescription = "Error is trapped in KbdBridge7 " & text, _
      "Err.Description " & savedDescription
    Check AllEmpty(d), "record not empty"
  Case "error-event"
    Check savedNumber = -2147221502, "Err.Number " & savedNumber
    Check savedSource = "mKeyboard_Error", "Err.Source " & savedSource
    Check savedDescription = "Error is trapped in KbdBridge", "Err.Description " & savedDescription
    Check AllEmpty(d), "record not empty"
  Case "fail"
    Check savedNumber = 1234, "Err.Number " & savedNumber
    Check savedSource = "KbdBridge.qzCherry", "Err.Source " & savedSource
    Check savedDescription = "Keyboard not connected", "Err.Description " & savedDescription
    Check AllEmpty(d), "record not empty"
  Case "absent"
    Check savedNumber = -2147221501, "Err.Number " & savedNumber
    Check savedSource = "ReadCard", "Err.Source " & savedSource
    Check savedDescription = "No Cherry Driver installed", "Err.Description " & savedDescription
    Check AllEmpty(d), "record not empty"
  Case Else
    Check False, "unknown scenario"
End Select
Set d = Nothing
Set app = Nothing

WScript.Echo "keyboard read (" & scenario & "): " & failures & " failure(s)"
WScript.Quit failures
