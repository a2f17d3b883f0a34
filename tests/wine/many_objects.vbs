' 1000 objects created, used and released one after the other, seven of them reading a card:
' afterwards the script host holds no more handles than after a warm-up of a few objects and one
' read. Each read has a terminal of its own on COM1 to COM8, as under
' Wine a pseudo-terminal refuses the line settings when a port is opened a second time.
On Error Resume Next

Dim i, o, warm, after

' helper.exe exits with the handle count of the process that started it.
Function Handles(args)
  Handles = Shell.Run("helper.exe " & args, 0, True)
  CheckNoError "helper.exe " & args
End Function

Sub UseObject(i, port)
  Set o = NewReader()
  If port > 0 Then
    o.CommPort = port
    CheckEqual o.ReadCard(CRT_CommPort), RV_ReadSuccessful, "read on COM" & port
    CheckNoError "read on COM" & port
  End If
  Set o = Nothing
End Sub

' The first Run loads what Run itself needs; the first read what every read shares.
Handles "count"
For i = 0 To 4
  UseObject i, 8 * (i \ 4)
Next
warm = Handles("count")
For i = 1 To 1000
  If i Mod 100 = 0 And i <= 700 Then UseObject i, i \ 100 Else UseObject i, 0
Next
after = Handles("count")
' A leak of one handle per read would add 7, per object 1000; Wine may open a registry key or
' two late for itself.
Check warm > 0 And after - warm <= 3, "handles: " & warm & " after the warm-up, " & after & " after 1000 objects"
' The count notices handles that are never closed.
Check Handles("leak 100") - after >= 100, "100 leaked handles counted"
Finish
