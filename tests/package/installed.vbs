' An administrator's first script after installing: both classes by ProgID,
' a file from the loopback FTP server, a page from the HTTP one.
' Arguments: FTP port, FTP root, HTTP port.
Dim fso, root, served, ftp, http
Set fso = CreateObject("Scripting.FileSystemObject")
root = WScript.Arguments(1)
Set served = fso.CreateTextFile(root & "\served.txt") : served.Write "from the FTP server" : served.Close
Set ftp = CreateObject("corvane.FTP")
ftp.URL = "127.0.0.1" : ftp.Port = CLng(WScript.Arguments(0)) : ftp.Username = "tester" : ftp.Password = "secret"
ftp.Passive = True
ftp.OpenConnection
ftp.GetFile "served.txt", root & "\fetched.txt", True
Set http = CreateObject("corvane.HTTP")
http.URL = "http://127.0.0.1:" & WScript.Arguments(2) & "/"
http.OpenConnection
If fso.OpenTextFile(root & "\fetched.txt").ReadAll <> "from the FTP server" Then WScript.Echo "FAIL the FTP file"
If http.StatusCode <> 200 Or InStr(http.Content, "corvane test server") = 0 Then WScript.Echo "FAIL the HTTP page"
WScript.Echo "END"
