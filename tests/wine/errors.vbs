' Errors as the host sees them and as the log beside the DLL keeps them: CommPort 0 raises
' ERR_NoPortSet, the missing port 200 the serial error 8002, each with its source and
' text and one log line; the object stays usable and then reads the card on COM1.
On Error Resume Next

Dim o, r, before, lines
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

o.CommPort = 200
r = o.ReadCard(CRT_CommPort)
TakeError
CheckEqual ErrNumber & " " & ErrDescription, "8002 Invalid port number", "CommPort 200"
Check Len(ErrSource) > 0, "Err.Source is set"
lines = ErrorLogLines()
CheckEqual UBound(lines) + 1, before + 2, "lines in the error log"
If UBound(lines) >= 0 Then
  Check InStr(lines(UBound(lines)), vbTab & "ErrNo : 8002" & vbTab) > 0, "logged number 8002"
End If

o.CommPort = 1
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "the read after the errors"
CheckNoError "ReadCard after the errors"
CheckRecord o.KVKData, "tagged", "record after the errors"
Finish
