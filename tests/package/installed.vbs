' An administrator's first script once the installer has run: both classes
' by ProgID, a file from the loopback FTP server, a page from the HTTP one.
' Arguments: FTP port, FTP root, HTTP port.
Option Explicit

Sub Check(label, actual, expected)
    If actual = expected Then
        WScript.Echo "ok " & label
    Else
        WScript.Echo "FAIL " & label & ": got [" & actual & "] expected [" & expected & "]"
    End If
End Sub

Dim fso, root, served, ftp, http, copy
Set fso = CreateObject("Scripting.FileSystemObject")
root = WScript.Arguments(1)
Set served = fso.CreateTextFile(root & "\served.txt")
served.Write "from the FTP server"
served.Close
copy = root & "\fetched.txt"

Set ftp = CreateObject("corvane.FTP")
ftp.URL = "127.0.0.1"
ftp.Port = CLng(WScript.Arguments(0))
ftp.Username = "tester"
ftp.Password = "secret"
ftp.Passive = True
ftp.OpenConnection
ftp.GetFile "served.txt", copy, True
ftp.CloseConnection
Check "FTP file fetched", fso.OpenTextFile(copy).ReadAll, "from the FTP server"

Set http = CreateObject("corvane.HTTP")
http.URL = "http://127.0.0.1:" & WScript.Arguments(2) & "/"
http.OpenConnection
Check "HTTP page fetched", http.StatusCode & " " & (InStr(http.Content, "corvane test server") > 0), "200 True"
WScript.Echo "END"
