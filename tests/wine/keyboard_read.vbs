' Keyboard reads as a host makes them, ReadCard(CRT_Tastatur), against kbdsim in each of its
' scenarios: the result or error, and the record left. First without kbdsim registered, which is
' the component's ERR_NoCherryDriver. Argument: kbdsim's DLL, registered here for this host's
' bitness.
On Error Resume Next

Dim dll, o, r
dll = """" & WScript.Arguments(0) & """"

Sub Read(scenario, want, card)
  On Error Resume Next
  Shell.RegWrite "HKCU\Software\kbdsim\Scenario", scenario, "REG_SZ"
  Set o = NewReader()
  o.WaitingTime = 5
  r = ""
  r = o.ReadCard(1)  ' CRT_Tastatur
  CheckEqual r & "|" & Err.Number & "|" & Err.Source & "|" & Err.Description, want, scenario
  Err.Clear
  CheckRecord o.KVKData, card, scenario & ": the record"
End Sub

Shell.Run "regsvr32 /s /u " & dll, 0, True
Read "success", "|-2147221501|ReadCard|No Cherry Driver installed", "empty"
CheckEqual Shell.Run("regsvr32 /s " & dll, 0, True), 0, "regsvr32 kbdsim"
Read "success", "0|0||", "kbdsim"
Read "unreadable", "5|0||", "empty"
Read "error7", "|-2147221502|mKeyboard_CherryError|Error is trapped in KbdBridge7 Lesefehler: " & _
  "Pr" & Chr(252) & "fsumme", "empty"
Read "error-event", "|-2147221502|mKeyboard_Error|Error is trapped in KbdBridge", "empty"
Read "fail", "|1234|KbdBridge.qzCherry|Keyboard not connected", "empty"
Finish
