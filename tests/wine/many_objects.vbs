' 1000 objects created, used and released one after the other, then 100 held at once.
On Error Resume Next

Dim i, o, held(99), t
t = Timer
For i = 1 To 1000
  Set o = CreateObject("qzCardReader.clsApplication")
  If Err.Number <> 0 Then
    Fail "object " & i & ": " & Err.Number & " " & Err.Description
    Exit For
  End If
  If o.WaitingTime <> 5 Or o.KVKData.VKNR <> "" Then Fail "object " & i & " is not new"
  Set o = Nothing
Next
For i = 0 To 99
  Set held(i) = CreateObject("qzCardReader.clsApplication")
  held(i).CommPort = i
Next
For i = 0 To 99
  If held(i).CommPort <> i Then Fail "held object " & i
  Set held(i) = Nothing
Next
CheckNoError "creating and releasing"
WScript.Echo "  1100 objects in " & FormatNumber(Timer - t, 2) & " s"
Finish
