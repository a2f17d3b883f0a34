' Run with COM1 and COM2 present but without a device, a silent device on COM3 and terminals
' from COM4 on. Reads on COM1 and COM2 raise 8010; GetCardPort passes them by without
' waiting, listens about 300 ms on COM3 and COM4, finds 4 and changes neither CommPort nor the
' record. A record the host keeps then stays as it was when the next read (COM6, fixed card)
' replaces the object's record.
On Error Resume Next

Dim o, first, second, port, t, elapsed
Set o = NewReader()
For Each port In Array(1, 2)
  o.CommPort = port
  o.ReadCard CRT_CommPort
  TakeError
  CheckEqual ErrNumber & " " & ErrDescription, _
    "8010 Port not present on this computer: COM" & port, "CommPort " & port
Next

Set first = o.KVKData
t = Timer
port = o.GetCardPort()
elapsed = Timer - t
CheckNoError "GetCardPort"
WScript.Echo "  GetCardPort returned " & port & " after " & FormatNumber(elapsed, 2) & " s"
CheckEqual port, 4, "port found"
Check elapsed >= 0.5 And elapsed < 10, "listening time (about 0.6 s)"
CheckEqual o.CommPort, 2, "CommPort unchanged"
Check first Is o.KVKData, "record unchanged"

' Ports the search opened are not read again: see many_objects.vbs.
o.CommPort = 5
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "first read"
CheckNoError "first ReadCard"
Set first = o.KVKData
o.CommPort = 6
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "second read"
CheckNoError "second ReadCard"
Set second = o.KVKData
Check Not (first Is second), "the second read makes a new record"
CheckRecord first, "tagged", "kept record"
CheckRecord second, "fixed", "new record"
Set o = Nothing
CheckRecord first, "tagged", "kept record after the object is gone"
Finish
