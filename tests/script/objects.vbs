' The six classes as a script sees them: created by ProgID, members found
' by name in any letter case, and the platform's errors for missing members.
Option Explicit

Sub Check(label, actual, expected)
    If actual = expected Then
        WScript.Echo "ok " & label
    Else
        WScript.Echo "FAIL " & label & ": got [" & actual & "] expected [" & expected & "]"
    End If
End Sub

Dim name, created
For Each name In Array("FTP", "FTPFile", "FTPFiles", "HTTP", "HTTPHeader", "HTTPHeaders")
    Set created = CreateObject("corvane." & name)
    ' Windows' TypeName drops the interface name's leading underscore; Wine's keeps it.
    Check "create corvane." & name, TypeName(created) = name Or TypeName(created) = "_" & name, True
Next

Dim ftp, http, value
Set ftp = CreateObject("corvane.FTP")
Set http = CreateObject("corvane.HTTP")
Check "FTP Version", ftp.Version, "1.01.2"
Check "FTP version in lower case", ftp.version, "1.01.2"
Check "HTTP Version", http.VERSION, "1.01.1"

On Error Resume Next
value = ftp.TransferType
Check "TransferType has no get", Err.Number, 438
Err.Clear
value = http.URL
Check "HTTP URL has no get", Err.Number, 438
Err.Clear
ftp.NoSuchMember
Check "unknown member", Err.Number, 438
Err.Clear
On Error GoTo 0

WScript.Echo "END"
