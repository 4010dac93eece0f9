' Prepended by run_script.sh to every script it runs: the helpers they share.
Option Explicit

' The FTP engine the run chose (run_script.sh's engine argument); else the
' class's default.
Sub UseEngineOfRun(made)
    Dim engine
    engine = CreateObject("WScript.Shell").Environment("PROCESS")("CORVANE_TEST_FTP_ENGINE")
    If engine <> "" Then made.Engine = CLng(engine)
    ' The FTPS run: the certificate names localhost, the scripts 127.0.0.1.
    If CreateObject("WScript.Shell").Environment("PROCESS")("CORVANE_TEST_FTP_SECURITY") <> "" Then
        made.Security = 1
        made.IgnoreCertificateErrors = True
    End If
End Sub

Sub Check(label, actual, expected)
    If actual = expected Then
        WScript.Echo "ok " & label
    Else
        WScript.Echo "FAIL " & label & ": got [" & actual & "] expected [" & expected & "]"
    End If
End Sub
