' A record the host keeps stays as it was when the next read (on COM2, fixed card) replaces the
' object's record.
On Error Resume Next

Dim o, first, second
Set o = NewReader()
o.CommPort = 1
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "first read"
CheckNoError "first ReadCard"
Set first = o.KVKData
o.CommPort = 2
CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "second read"
CheckNoError "second ReadCard"
Set second = o.KVKData
Check Not (first Is second), "the second read makes a new record"
CheckRecord first, "tagged", "kept record"
CheckRecord second, "fixed", "new record"
Set o = Nothing
CheckRecord first, "tagged", "kept record after the object is gone"
Finish
