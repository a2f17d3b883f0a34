' Errors as the host sees them and as the log beside the DLL keeps them, with COM1 and COM2
' present but without a device and terminals on COM3 and COM4: CommPort 0 raises ERR_NoPortSet, COM1
' and COM2 raise 8010, a port past the last one 8002, each with its source and text and one
' log line. The port search passes COM1 and COM2 by, and the object then reads the card on COM4.
On Error Resume Next

Dim o, r, before, lines, port, want
Set o = NewReader()
before = UBound(ErrorLogLines()) + 1
r = o.ReadCard(CRT_CommPort)
TakeError
CheckEqual ErrNumber & " " & ErrSource & ": " & ErrDescription, _
  "-2147221503 ClsApplication: No CommPort is set", "CommPort 0"
lines = ErrorLogLines()
CheckEqual UBound(lines) + 1, before + 1, "lines in " & ErrorLogPath()
If UBound(lines) >= 0 Then
  Check Left(lines(UBound(lines)), Len(Date) + 1) = Date & vbTab, "log line starts with the date"
  Check InStr(lines(UBound(lines)), vbTab & "Module : ClsApplication" & vbTab & _
    "Method : ReadCard" & vbTab & "Comment : None" & vbTab & "ErrNo : -2147221503" & vbTab & _
    "ErrDesc. : No CommPort is set" & vbTab & "ErrSource : ClsApplication") > 0, _
    "log line [" & lines(UBound(lines)) & "]"
End If

For Each port In Array(1, 2, 200)
  want = "8010 COM" & port & " is not present on this computer"
  If port > 2 Then want = "8002 Invalid port number"
  o.CommPort = port
  r = o.ReadCard(CRT_CommPort)
  TakeError
  CheckEqual ErrNumber & " " & ErrDescription, want, "CommPort " & port
  Check Len(ErrSource) > 0, "Err.Source is set"
  lines = ErrorLogLines()
  If UBound(lines) >= 0 Then
    Check InStr(lines(UBound(lines)), vbTab & "ErrNo : " & Left(want, 4) & vbTab) > 0, _
      "logged [" & lines(UBound(lines)) & "]"
  End If
Next
CheckEqual UBound(lines) + 1, before + 4, "lines in the error log"

CheckEqual o.GetCardPort(), 3, "GetCardPort"
o.CommPort = 4  ' a pty the search opened refuses the line settings under Wine
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "the read after the errors"
CheckNoError "ReadCard after the errors"
CheckRecord o.KVKData, "tagged", "record after the errors"
Finish
