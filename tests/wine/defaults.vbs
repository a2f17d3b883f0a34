' A new object: WaitingTime 5, CommPort 0, an empty record that stays the same object; the
' record's properties can be written; Test on the closed port fails with the port's error;
' clsKVKData is not creatable. Argument: the DLL that this host's bitness must get from the
' ProgID, with the other bitness's DLL registered beside it.
On Error Resume Next

Dim o, d, bad
CheckEqual LCase(RegisteredDll()), LCase(WScript.Arguments(0)), "the DLL registered for this host"
Set o = NewReader()
CheckEqual o.WaitingTime & " " & o.CommPort, "5 0", "WaitingTime and CommPort of a new object"
Set d = o.KVKData
CheckRecord d, "empty", "new record"
Check d Is o.KVKData, "KVKData returns the same object twice"

d.Vorname = "J" & Chr(252) & "rgen"
CheckEqual o.KVKData.Vorname, "J" & Chr(252) & "rgen", "Vorname written through the record"

' Test sends on the port as it is: closed here, so the link's error reaches the host.
o.Test
CheckEqual Err.Number, 8012, "Test on a closed port: Err.Number"
Err.Clear

Set bad = CreateObject("qzCardReader.clsKVKData")
Check Err.Number <> 0, "clsKVKData must not be creatable"
Err.Clear

Set d = Nothing
Set o = Nothing
Finish
