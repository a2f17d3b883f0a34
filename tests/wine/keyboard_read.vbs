' Keyboard reads as a host makes them, ReadCard(CRT_Tastatur), against kbdsim in each of its
' scenarios: the result or error, and the record left. First without kbdsim registered, which is
' the component's ERR_NoCherryDriver. Argument: kbdsim's DLL, registered here for this host's
' bitness and unregistered at the end.
On Error Resume Next

Dim dll, o, r, scenario, want, card, got
dll = """" & WScript.Arguments(0) & """"
card = "Testkasse S" & Chr(252) & "d;;99999;A123456789;1000;4;Dr.;J" & Chr(252) & _
  "rgen;von;M" & Chr(252) & Chr(223) & "iggang;17.03.1962;Hauptstra" & Chr(223) & _
  "e 12a;D;50667;K" & Chr(246) & "ln;12/29;"

Sub Read(scenario, want, wantCard)
  Dim d, text
  On Error Resume Next
  Shell.RegWrite "HKCU\Software\kbdsim\Scenario", scenario, "REG_SZ"
  Set o = NewReader()
  o.WaitingTime = 5
  r = ""
  r = o.ReadCard(1)  ' CRT_Tastatur
  got = r & "|" & Err.Number & "|" & Err.Source & "|" & Err.Description
  Err.Clear
  CheckEqual got, want, scenario & ": result|error"
  Set d = o.KVKData
  text = d.KrankenKassenName & ";" & d.KrankenKassenNummer & ";" & d.VKNR & ";" & _
    d.VersichertenNummer & ";" & d.VersichertenStatus & ";" & d.StatusErgaenzung & ";" & _
    d.Titel & ";" & d.Vorname & ";" & d.NamensZusatz & ";" & d.FamilienName & ";" & _
    d.Geburtsdatum & ";" & d.StrassenName & ";" & d.LaenderCode & ";" & d.PostLeitzahl & ";" & _
    d.OrtsName & ";" & d.Gueltigkeit & ";" & d.Checksum
  CheckNoError scenario & ": the record"
  CheckEqual text, wantCard, scenario & ": the record"
End Sub

Shell.Run "regsvr32 /s /u " & dll, 0, True
Read "success", "|-2147221501|ReadCard|No Cherry Driver installed", ExpectedCard("")
CheckEqual Shell.Run("regsvr32 /s " & dll, 0, True), 0, "regsvr32 kbdsim"
Read "success", "0|0||", card
Read "unreadable", "5|0||", ExpectedCard("")
Read "error7", "|-2147221502|mKeyboard_CherryError|Error is trapped in KbdBridge7 Lesefehler: " & _
  "Pr" & Chr(252) & "fsumme", ExpectedCard("")
Read "error-event", "|-2147221502|mKeyboard_Error|Error is trapped in KbdBridge", ExpectedCard("")
Read "fail", "|1234|KbdBridge.qzCherry|Keyboard not connected", ExpectedCard("")
Shell.Run "regsvr32 /s /u " & dll, 0, True
Finish
