' Errors and ports as the host sees them, with a silent device on COM1, no device on COM2 and
' terminals from COM3 on: CommPort 0 raises ERR_NoPortSet, COM2 8010 and a port past the last one
' 8002, each with its source and text and one line in the log beside the DLL. The port search
' listens on COM1, passes COM2 by and finds COM3. A record the host keeps stays as it was when
' the next read replaces the object's record.
On Error Resume Next

Dim o, before, lines, port, want, t, first, second
Set o = NewReader()
o.ReadCard CRT_CommPort
CheckEqual Err.Number & " " & Err.Source & ": " & Err.Description, _
  "-2147221503 ClsApplication: No CommPort is set", "CommPort 0"
Err.Clear
lines = ErrorLogLines()
before = UBound(lines)
Check InStr(lines(before - 1), Date & vbTab) = 1 And InStr(lines(before - 1), vbTab & _
  "Method : ReadCard" & vbTab & "Comment : None" & vbTab & "ErrNo : -2147221503" & vbTab) > 0, _
  "log line [" & lines(before - 1) & "]"

For Each port In Array(2, 200)
  want = "8010 Port not present on this computer: COM2"
  If port > 2 Then want = "8002 Invalid port number"
  o.CommPort = port
  o.ReadCard CRT_CommPort
  CheckEqual Err.Number & " " & Err.Description, want, "CommPort " & port
  Err.Clear
  lines = ErrorLogLines()
  Check InStr(lines(UBound(lines) - 1), vbTab & "ErrNo : " & Left(want, 4) & vbTab) > 0, _
    "logged [" & lines(UBound(lines) - 1) & "]"
Next
CheckEqual UBound(lines), before + 2, "lines in " & ErrorLogPath()

o.CommPort = 0
t = Timer
CheckEqual o.GetCardPort(), 3, "GetCardPort"
Check Timer - t >= 0.25 And Timer - t < 10, "listening time (about 0.3 s)"

' A pty the search opened refuses the line settings under Wine: the reads are on COM4 and COM5.
o.CommPort = 4
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "read on COM4"
Set first = o.KVKData
o.CommPort = 5
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "read on COM5"
Set second = o.KVKData
Check Not (first Is second), "the second read makes a new record"
CheckRecord second, "fixed", "new record"
Set o = Nothing
CheckRecord first, "tagged", "kept record after the object is gone"
Finish
