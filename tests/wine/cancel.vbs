' Abbruch in the reader window ends a read that waits for a card: RV_UserCanceled, no record.
' The click comes from another process, which finds the button by its text once it is shown.
On Error Resume Next

Dim o
Shell.Run "helper.exe cancel", 0, False
CheckNoError "starting helper.exe cancel"
Set o = NewReader()
o.CommPort = 1
o.WaitingTime = 30000
CheckEqual o.ReadCard(CRT_CommPort), 4, "ReadCard after Abbruch"
Check o.KVKData Is Nothing, "KVKData is Nothing after a cancelled read"
Finish
