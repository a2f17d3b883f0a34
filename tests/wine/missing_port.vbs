' A port that does not exist: the serial error 8002 reaches the host as Err.Number 8002 with the
' port's source and text, is logged, and the object can try again.
On Error Resume Next

Dim o, r, before, lines, i
Set o = NewReader()
o.CommPort = 200
before = UBound(ErrorLogLines()) + 1
For i = 1 To 2
  r = o.ReadCard(CRT_CommPort)
  TakeError
  CheckEqual ErrNumber, 8002, "Err.Number (attempt " & i & ")"
  CheckEqual ErrDescription, "Invalid port number", "Err.Description (attempt " & i & ")"
  Check Len(ErrSource) > 0, "Err.Source is set"
Next
lines = ErrorLogLines()
CheckEqual UBound(lines) + 1, before + 2, "lines in the error log"
If UBound(lines) >= 0 Then
  Check InStr(lines(UBound(lines)), vbTab & "ErrNo : 8002" & vbTab) > 0, "logged number 8002"
End If
CheckEqual o.CommPort, 200, "CommPort unchanged"
Finish
