' Shared by the Wine tests: the harness puts it in front of each test script, since Wine's
' VBScript has no ExecuteGlobal. cscript under Wine prints nothing for an
' unhandled error and exits 0, so every test runs with On Error Resume Next, checks Err after
' each call and ends with WScript.Quit Failures.
Dim Failures
Failures = 0

Const RV_ReadSuccessful = 0
Const RV_CardRemovedDuringReading = 1
Const RV_Error = 2
Const RV_WrongCard = 3
Const RV_UserCanceled = 4
Const RV_NoCardInserted = 5
Const RV_NoReaderResponding = 6
Const CRT_CommPort = 2
Const CLSID_clsApplication = "{3CE456A8-5E44-416B-AF4A-37C02B596C32}"

Dim FieldNames
FieldNames = Array("KrankenKassenName", "KrankenKassenNummer", "VKNR", "VersichertenNummer", _
  "VersichertenStatus", "StatusErgaenzung", "Titel", "Vorname", "NamensZusatz", "FamilienName", _
  "Geburtsdatum", "StrassenName", "LaenderCode", "PostLeitzahl", "OrtsName", "Gueltigkeit", _
  "Checksum")

Sub Fail(what)
  Failures = Failures + 1
  WScript.Echo "  not as expected: " & what
End Sub

Sub Check(cond, what)
  If Not cond Then Fail what
End Sub

' No On Error statement in the helpers that look at Err: it would clear the error under test.
Sub CheckEqual(actual, expected, what)
  If actual <> expected Then Fail what & ": got [" & actual & "], expected [" & expected & "]"
End Sub

' Moves the error just raised into ErrNumber, ErrSource and ErrDescription and clears it.
Dim ErrNumber, ErrSource, ErrDescription
Sub TakeError()
  ErrNumber = Err.Number
  ErrSource = Err.Source
  ErrDescription = Err.Description
  Err.Clear
End Sub

' Reports and clears an error left by the call just made.
Sub CheckNoError(what)
  If Err.Number <> 0 Then
    Fail what & " raised " & Err.Number & " (" & Err.Source & ": " & Err.Description & ")"
    Err.Clear
  End If
End Sub

' Card texts as the card stores them: { | } ~ stand for ae, oe, ue and sharp s. Wine's VBScript
' has neither Replace nor ChrW; Chr takes the ANSI code page, 1252 in the test prefix.
Function De(s)
  Dim i, c, r
  r = ""
  For i = 1 To Len(s)
    c = Mid(s, i, 1)
    Select Case c
      Case "{": c = Chr(228)
      Case "|": c = Chr(246)
      Case "}": c = Chr(252)
      Case "~": c = Chr(223)
    End Select
    r = r & c
  Next
  De = r
End Function

' The seventeen values of tests/data/card_tagged.bin and card_fixed.bin, in field order.
Function ExpectedCard(name)
  If name = "tagged" Then
    ExpectedCard = Array("BKK M}hlental", "1234567", "12345", "123456789012", "1000", "1", _
      "Dr.", "J}rgen", "von", "Wei~m}ller", "12031956", "Hauptstra~e 7", "D", "54321", _
      "Gro~ Sch|ndorf", "1228", "u")
  ElseIf name = "fixed" Then
    ExpectedCard = Array("IKK Rh|ntal", "7654321", "54321", "987654321098", "3000", "4", "", _
      "J|rg Friedrich", "zur", "Kr{mer-Wei~", "30111972", "Am M}hlbach 12a", "D", "98765", _
      "Wei~enbach (Rh|n)", "0627", "-")
  Else
    ExpectedCard = Array("", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "")
  End If
End Function

' Property i of a record, called early-bound by name through IDispatch.
Function FieldOf(record, i)
  Select Case i
    Case 0: FieldOf = record.KrankenKassenName
    Case 1: FieldOf = record.KrankenKassenNummer
    Case 2: FieldOf = record.VKNR
    Case 3: FieldOf = record.VersichertenNummer
    Case 4: FieldOf = record.VersichertenStatus
    Case 5: FieldOf = record.StatusErgaenzung
    Case 6: FieldOf = record.Titel
    Case 7: FieldOf = record.Vorname
    Case 8: FieldOf = record.NamensZusatz
    Case 9: FieldOf = record.FamilienName
    Case 10: FieldOf = record.Geburtsdatum
    Case 11: FieldOf = record.StrassenName
    Case 12: FieldOf = record.LaenderCode
    Case 13: FieldOf = record.PostLeitzahl
    Case 14: FieldOf = record.OrtsName
    Case 15: FieldOf = record.Gueltigkeit
    Case 16: FieldOf = record.Checksum
  End Select
End Function

' Compares all seventeen properties of a record with a test card ("tagged", "fixed", "empty").
Sub CheckRecord(record, card, what)
  Dim expected, i, value
  CheckNoError "before checking " & what
  On Error Resume Next
  If record Is Nothing Then
    Fail what & ": the record is Nothing"
    Exit Sub
  End If
  expected = ExpectedCard(card)
  For i = 0 To 16
    value = FieldOf(record, i)
    CheckNoError what & "." & FieldNames(i)
    CheckEqual value, De(expected(i)), what & "." & FieldNames(i)
  Next
End Sub

Function NewReader()
  Set NewReader = CreateObject("qzCardReader.clsApplication")
  CheckNoError "CreateObject(""qzCardReader.clsApplication"")"
End Function

' The error log beside the registered DLL.
Function ErrorLogPath()
  Dim dll
  dll = CreateObject("WScript.Shell").RegRead("HKCR\CLSID\" & CLSID_clsApplication & _
    "\InprocServer32\")
  ErrorLogPath = Left(dll, InStrRev(dll, ".")) & "err"
End Function

Function ErrorLogLines()
  Dim fso, text
  Set fso = CreateObject("Scripting.FileSystemObject")
  If Not fso.FileExists(ErrorLogPath()) Then
    ErrorLogLines = Array()
    Exit Function
  End If
  text = fso.OpenTextFile(ErrorLogPath()).ReadAll
  If Right(text, 2) = vbCrLf Then text = Left(text, Len(text) - 2)
  ErrorLogLines = Split(text, vbCrLf)
End Function

Sub Finish()
  CheckNoError "the last step"
  If Failures = 0 Then WScript.Echo "  all checks passed"
  WScript.Quit Failures
End Sub
