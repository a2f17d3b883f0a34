' A keyboard read through qzCardReader.dll as a host makes it: ReadCard(CRT_Tastatur) with the
' waiting time 5, against the stand-in keyboard library in the scenario that KBDBRIDGE_SCENARIO
' selects. Arguments: the scenario's name, and the text the stand-in's error 7 carries.
' The caller checks what lands outside the script (recorded time-out, error log).
Option Explicit
Dim app, r, d, scenario, text, got, want, record, wantRecord, failures
scenario = WScript.Arguments(0)
text = WScript.Arguments(1)
failures = 0

Sub Check(got, want, what)
  If got <> want Then
    WScript.Echo "FAIL (" & scenario & "): " & what & " '" & got & "', want '" & want & "'"
    failures = failures + 1
  End If
End Sub

On Error Resume Next
Set app = CreateObject("qzCardReader.clsApplication")
Check Err.Number, 0, "create: " & Err.Description
app.WaitingTime = 5
r = app.ReadCard(1)  ' CRT_Tastatur
got = r & "|" & Err.Number & "|" & Err.Source & "|" & Err.Description
Err.Clear
Set d = app.KVKData
Check Err.Number, 0, "KVKData after the read"
record = d.KrankenKassenName & "|" & d.KrankenKassenNummer & "|" & d.VKNR & "|" & _
  d.VersichertenNummer & "|" & d.VersichertenStatus & "|" & d.StatusErgaenzung & "|" & _
  d.Titel & "|" & d.Vorname & "|" & d.NamensZusatz & "|" & d.FamilienName & "|" & _
  d.Geburtsdatum & "|" & d.StrassenName & "|" & d.LaenderCode & "|" & d.PostLeitzahl & "|" & _
  d.OrtsName & "|" & d.Gueltigkeit & "|" & d.Checksum

' The result (none when ReadCard raised), the error, and the record it left.
wantRecord = String(16, "|")
Select Case scenario
  Case "success"
    want = "0|0||"  ' RV_ReadSuccessful
    ' Wine's VBScript has no ChrW; Chr takes code page 1252, the prefix's.
    wantRecord = "Testkasse S" & Chr(252) & "d||99999|A123456789|1000|4|Dr.|J" & Chr(252) & _
      "rgen|von|M" & Chr(252) & Chr(223) & "iggang|17.03.1962|Hauptstra" & Chr(223) & _
      "e 12a|D|50667|K" & Chr(246) & "ln|12/29|"
  Case "unreadable"
    want = "5|0||"  ' RV_NoCardInserted
  Case "error7"
    want = "|-2147221502|mKeyboard_CherryError|Error is trapped in KbdBridge7 " & text
  Case "error-event"
    want = "|-2147221502|mKeyboard_Error|Error is trapped in KbdBridge"
  Case "fail"
    want = "|1234|KbdBridge.qzCherry|Keyboard not connected"
  Case "absent"
    want = "|-2147221501|ReadCard|No Cherry Driver installed"
  Case Else
    want = "a known scenario"
End Select
Check Err.Number, 0, "the script itself failed"  ' a failing statement would skip its check
Check got, want, "ReadCard"
Check record, wantRecord, "record"
Set d = Nothing
Set app = Nothing

WScript.Echo "keyboard read (" & scenario & "): " & failures & " failure(s)"
WScript.Quit failures
