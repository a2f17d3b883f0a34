' ReadCard's wall time on COM1 to COMn (n the argument), one read each on a new object: one line
' "milliseconds result" per read.
Dim o, port, t, r
For port = 1 To CInt(WScript.Arguments(0))
  Set o = CreateObject("qzCardReader.clsApplication")
  o.CommPort = port
  t = Timer
  r = o.ReadCard(2)
  WScript.Echo FormatNumber((Timer - t) * 1000, 1, True, False, False) & " " & r
  Set o = Nothing
Next
