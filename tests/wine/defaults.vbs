' A new object: WaitingTime 5, CommPort 0, an empty record that stays the same object; the
' properties take any number; the record's properties can be written; Test on the closed port
' fails with the port's error; clsKVKData is not creatable.
On Error Resume Next

Dim o, d, d2
Set o = NewReader()
CheckEqual o.WaitingTime, 5, "WaitingTime of a new object"
CheckEqual o.CommPort, 0, "CommPort of a new object"
CheckNoError "reading the properties"
Set d = o.KVKData
CheckNoError "KVKData"
CheckRecord d, "empty", "new record"
Set d2 = o.KVKData
Check d Is d2, "KVKData returns the same object twice"

o.CommPort = -3
o.WaitingTime = 0
CheckNoError "setting CommPort -3 and WaitingTime 0"
CheckEqual o.CommPort, -3, "CommPort after setting -3"
CheckEqual o.WaitingTime, 0, "WaitingTime after setting 0"
o.WaitingTime = -7
CheckEqual o.WaitingTime, -7, "WaitingTime after setting -7"

d.Vorname = "J" & Chr(252) & "rgen"
CheckNoError "writing Vorname"
CheckEqual o.KVKData.Vorname, "J" & Chr(252) & "rgen", "Vorname written through the record"

' Test sends on the port as it is: closed here, so the link's error reaches the host.
o.Test
TakeError
CheckEqual ErrNumber, 8012, "Test on a closed port: Err.Number"

Dim bad
Set bad = CreateObject("qzCardReader.clsKVKData")
Check Err.Number <> 0, "clsKVKData must not be creatable"
Err.Clear

Set d = Nothing
Set d2 = Nothing
Set o = Nothing
CheckNoError "releasing the object"
Finish
