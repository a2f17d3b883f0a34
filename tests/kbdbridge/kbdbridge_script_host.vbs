' The stand-in as a script host sees it: created by ProgID, ReadKVK by late binding with
' variables passed by reference, the fields, a failing call's error. The scenario comes from
' KBDBRIDGE_SCENARIO in the environment and is named again as the script's argument.
' (Wine's script host cannot connect an event sink, so the events are left to the C++ test.)
Option Explicit
Dim cherry, ok, t, a, b, failures, scenario
failures = 0
scenario = WScript.Arguments(0)

Sub Check(cond, what)
  If Not cond Then
    WScript.Echo "FAIL (" & scenario & "): " & what
    failures = failures + 1
  End If
End Sub

On Error Resume Next
Set cherry = CreateObject("KbdBridge.qzCherry")
Check Err.Number = 0, "create: " & Err.Description
t = 5000
a = 0
b = 0
ok = cherry.ReadKVK(t, a, b)
If scenario = "success" Then
  Check Err.Number = 0, "ReadKVK: " & Err.Description
  Check ok = True, "ReadKVK returned " & ok
  Check cherry.Vorname = "J" & ChrW(252) & "rgen", "Vorname"
  Check cherry.FamilienName = "M" & ChrW(252) & ChrW(223) & "iggang", "FamilienName"
  Check cherry.Gueltigkeit = "12/29", "Gueltigkeit " & cherry.Gueltigkeit
ElseIf scenario = "fail" Then
  Check Err.Number = 1234, "Err.Number " & Err.Number
  Check Err.Source = "KbdBridge.qzCherry", "Err.Source " & Err.Source
  Check Err.Description = "Keyboard not connected", "Err.Description " & Err.Description
  Err.Clear
Else
  Check False, "unknown scenario"
End If
Set cherry = Nothing

WScript.Echo "script host (" & scenario & "): " & failures & " failure(s)"
WScript.Quit failures
