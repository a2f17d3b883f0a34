' GetCardPort with a silent device on COM1 and terminals from COM2 on finds 2, after listening
' about 300 ms on each, and changes neither CommPort nor the record. A record the host keeps
' then stays as it was when the next read (COM4, fixed card) replaces the object's record.
On Error Resume Next

Dim o, first, second, port, t, elapsed
Set o = NewReader()
Set first = o.KVKData
t = Timer
port = o.GetCardPort()
elapsed = Timer - t
CheckNoError "GetCardPort"
WScript.Echo "  GetCardPort returned " & port & " after " & FormatNumber(elapsed, 2) & " s"
CheckEqual port, 2, "port found"
Check elapsed >= 0.5 And elapsed < 10, "listening time (about 0.6 s)"
CheckEqual o.CommPort, 0, "CommPort unchanged"
Check first Is o.KVKData, "record unchanged"

' Ports the search opened are not read again: see many_objects.vbs.
o.CommPort = 3
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "first read"
CheckNoError "first ReadCard"
Set first = o.KVKData
o.CommPort = 4
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "second read"
CheckNoError "second ReadCard"
Set second = o.KVKData
Check Not (first Is second), "the second read makes a new record"
CheckRecord first, "tagged", "kept record"
CheckRecord second, "fixed", "new record"
Set o = Nothing
CheckRecord first, "tagged", "kept record after the object is gone"
Finish
