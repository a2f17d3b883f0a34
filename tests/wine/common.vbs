' Put in front of each test script by the harness, as Wine's VBScript has no ExecuteGlobal.
' cscript under Wine prints nothing for an unhandled error and exits 0, so every test runs with
' On Error Resume Next, checks Err after each call and ends with WScript.Quit Failures.
Dim Failures

Const RV_ReadSuccessful = 0
Const CRT_CommPort = 2
Dim Shell
Set Shell = CreateObject("WScript.Shell")

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

' Reports and clears an error left by the call just made.
Sub CheckNoError(what)
  If Err.Number <> 0 Then
    Fail what & " raised " & Err.Number & " (" & Err.Source & ": " & Err.Description & ")"
    Err.Clear
  End If
End Sub

' Card texts as the card stores them: { | } ~ stand for ae, oe, ue and sharp s. Wine's VBScript
' has no ChrW; Chr takes the ANSI code page, 1252 in the test prefix.
Function De(s)
  De = Replace(Replace(Replace(Replace(s, "{", Chr(228)), "|", Chr(246)), "}", Chr(252)), _
    "~", Chr(223))
End Function

' The seventeen values of tests/data/card_tagged.bin and card_fixed.bin and of kbdsim's card, in
' field order.
Function ExpectedCard(name)
  ExpectedCard = ";;;;;;;;;;;;;;;;"
  If name = "tagged" Then ExpectedCard = De("BKK M}hlental;1234567;12345;123456789012;1000;1;" & _
    "Dr.;J}rgen;von;Wei~m}ller;12031956;Hauptstra~e 7;D;54321;Gro~ Sch|ndorf;1228;u")
  If name = "kbdsim" Then ExpectedCard = De("Testkasse S}d;;99999;A123456789;1000;4;Dr.;J}rgen;" & _
    "von;M}~iggang;17.03.1962;Hauptstra~e 12a;D;50667;K|ln;12/29;")
  If name = "fixed" Then ExpectedCard = De("IKK Rh|ntal;7654321;54321;987654321098;3000;4;;" & _
    "J|rg Friedrich;zur;Kr{mer-Wei~;30111972;Am M}hlbach 12a;D;98765;Wei~enbach (Rh|n);0627;-")
End Function

' Compares all seventeen properties of a record, each called by name, with a test card
' ("tagged", "fixed", "kbdsim", "empty").
Sub CheckRecord(r, card, what)
  Dim text
  On Error Resume Next
  text = r.KrankenKassenName & ";" & r.KrankenKassenNummer & ";" & r.VKNR & ";" & _
    r.VersichertenNummer & ";" & r.VersichertenStatus & ";" & r.StatusErgaenzung & ";" & _
    r.Titel & ";" & r.Vorname & ";" & r.NamensZusatz & ";" & r.FamilienName & ";" & _
    r.Geburtsdatum & ";" & r.StrassenName & ";" & r.LaenderCode & ";" & r.PostLeitzahl & ";" & _
    r.OrtsName & ";" & r.Gueltigkeit & ";" & r.Checksum
  CheckNoError what
  CheckEqual text, ExpectedCard(card), what
End Sub

Function NewReader()
  Set NewReader = CreateObject("qzCardReader.clsApplication")
  CheckNoError "CreateObject(""qzCardReader.clsApplication"")"
End Function

' The DLL registered for this host's bitness, and the error log beside it.
Function RegisteredDll()
  RegisteredDll = Shell.RegRead("HKCR\CLSID\" & _
    Shell.RegRead("HKCR\qzCardReader.clsApplication\Clsid\") & "\InprocServer32\")
End Function

Function ErrorLogPath()
  ErrorLogPath = Left(RegisteredDll(), InStrRev(RegisteredDll(), ".")) & "err"
End Function

' The log's lines, as many as it has lines and then an empty one (each line ends with CR LF).
Function ErrorLogLines()
  ErrorLogLines = Split(CreateObject("Scripting.FileSystemObject").OpenTextFile( _
    ErrorLogPath()).ReadAll, vbCrLf)
End Function

Sub Finish()
  CheckNoError "the last step"
  If Failures = 0 Then WScript.Echo "  all checks passed"
  WScript.Quit Failures
End Sub
