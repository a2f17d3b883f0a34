' GetCardPort with a silent device on COM1 and a terminal on COM2 finds 2, after listening about
' 300 ms on each, and changes neither CommPort nor the record.
On Error Resume Next

Dim o, d, port, t, elapsed
Set o = NewReader()
Set d = o.KVKData
t = Timer
port = o.GetCardPort()
elapsed = Timer - t
CheckNoError "GetCardPort"
WScript.Echo "  GetCardPort returned " & port & " after " & FormatNumber(elapsed, 2) & " s"
CheckEqual port, 2, "port found"
Check elapsed >= 0.5 And elapsed < 10, "listening time (about 0.6 s)"
CheckEqual o.CommPort, 0, "CommPort unchanged"
Check d Is o.KVKData, "record unchanged"
Finish
