' ReadCard with CommPort 0: error ERR_NoPortSet with its source and description, one log line
' beside the DLL; the object stays usable and the next read on COM1 works.
On Error Resume Next

Dim o, r, before, after, fields
Set o = NewReader()
before = UBound(ErrorLogLines()) + 1
r = o.ReadCard(CRT_CommPort)
TakeError
CheckEqual ErrNumber, -2147221503, "Err.Number"
CheckEqual ErrSource, "ClsApplication", "Err.Source"
CheckEqual ErrDescription, "No CommPort is set", "Err.Description"

after = ErrorLogLines()
CheckEqual UBound(after) + 1, before + 1, "lines in " & ErrorLogPath()
If UBound(after) >= 0 Then
  fields = Split(after(UBound(after)), vbTab)
  CheckEqual UBound(fields) + 1, 8, "fields of the log line"
  If UBound(fields) = 7 Then
    CheckEqual fields(0), CStr(Date), "date field (short date)"
    CheckEqual fields(2), "Module : ClsApplication", "field 3"
    CheckEqual fields(3), "Method : ReadCard", "field 4"
    CheckEqual fields(4), "Comment : None", "field 5"
    CheckEqual fields(5), "ErrNo : -2147221503", "field 6"
    CheckEqual fields(6), "ErrDesc. : No CommPort is set", "field 7"
    CheckEqual fields(7), "ErrSource : ClsApplication", "field 8"
  End If
End If

o.CommPort = 1
r = o.ReadCard(CRT_CommPort)
CheckNoError "ReadCard after the error"
CheckEqual r, RV_ReadSuccessful, "result of the read after the error"
CheckRecord o.KVKData, "tagged", "record after the error"
Finish
