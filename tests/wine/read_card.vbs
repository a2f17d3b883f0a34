' A read on COM1 against the simulated terminal. Arguments: the expected result (a number) and
' the record expected afterwards: tagged, fixed, empty or nothing; optionally the WaitingTime.
On Error Resume Next

Dim expected, card, o, r, t, d
expected = CLng(WScript.Arguments(0))
card = WScript.Arguments(1)
Set o = NewReader()
o.CommPort = 1
o.WaitingTime = 2
If WScript.Arguments.Count > 2 Then o.WaitingTime = CInt(WScript.Arguments(2))
t = Timer
r = o.ReadCard(CRT_CommPort)
CheckNoError "ReadCard"
WScript.Echo "  ReadCard returned " & r & " after " & FormatNumber(Timer - t, 2) & " s"
CheckEqual r, expected, "result of ReadCard"
Set d = o.KVKData
CheckNoError "KVKData"
If card = "nothing" Then
  Check d Is Nothing, "KVKData must be Nothing"
Else
  CheckRecord d, card, "record"
  Check d Is o.KVKData, "KVKData returns the same object twice"
End If
Set o = Nothing
CheckNoError "releasing the object"
Finish
