' The FTP object in an ASP page, as a page script drives it: the directory
' browser for ?d=, the download for ?f=, against the loopback FTP server.
' Arguments: FTP port, FTP root, HTTP port.

Dim fso, root
Set fso = CreateObject("Scripting.FileSystemObject")
root = WScript.Arguments(1)
fso.CreateFolder root & "\pub"
fso.CreateFolder root & "\pub\docs"
fso.CreateTextFile(root & "\pub\notes.txt").Write "twelve bytes"

Function NewPage(query, value)
    Dim made
    Set made = CreateObject("AspTestHost.Page")
    made.SetServerVariable "SERVER_NAME", "localhost"
    made.SetServerVariable "SERVER_PORT", "8080"
    made.SetServerVariable "SCRIPT_NAME", "/browse.asp"
    If query <> "" Then made.SetQueryString query, value
    Set NewPage = made
End Function

Function Connected(page)
    Dim ftp
    Set ftp = CreateObject("corvane.FTP")
    UseEngineOfRun ftp
    ftp.OnStartPage page.Context
    ftp.URL = "127.0.0.1"
    ftp.Port = CLng(WScript.Arguments(0))
    ftp.Username = "tester"
    ftp.Password = "secret"
    ' Each page has its session; Wine's WinInet mixes up the replies of two
    ' active-mode sessions when one closes after a listing.
    ftp.Passive = True
    ftp.OpenConnection
    Set Connected = ftp
End Function

Dim page, ftp, body, base
Set page = NewPage("d", "/pub")
Set ftp = Connected(page)
ftp.PrintClient
body = page.Body
base = "<a href=""http://localhost:8080/browse.asp"
Check "parent row", InStr(body, "<tr><td colspan=""2"">" & base & "?d=%2F"">..</a></td></tr>") > 0, True
Check "directory row", InStr(body, "<tr class=""ftp_alternating_line_1""><td>" & base & _
    "?d=%2Fpub%2Fdocs"">docs</a></td><td>&nbsp;</td></tr>") > 0, True
Check "file row", InStr(body, "<tr class=""ftp_alternating_line_2""><td>" & base & _
    "?f=%2Fpub%2Fnotes%2Etxt"">notes.txt</a></td><td>12</td></tr>") > 0, True
Check "table closed", Right(body, 8), "</table>"
Check "directory restored", ftp.Directory, "/"

Set page = NewPage("f", "/pub/notes.txt")
Set ftp = Connected(page)
ftp.PrintClient
Check "download body", page.Body, "twelve bytes"
Check "download content type", page.ContentType, "application/octet-stream"
Check "download header", page.Headers, "Content-Disposition: attachment;filename=notes.txt"
Check "page ended", page.Ended, True

Set page = NewPage("", "")
Set ftp = CreateObject("corvane.FTP")
UseEngineOfRun ftp
ftp.OnStartPage page.Context
ftp.PrintClient
Check "nothing without a connection", page.Calls, ""

On Error Resume Next
Set ftp = Connected(NewPage("", ""))
ftp.DownloadFileToClient "/pub/missing.txt"
Check "missing file number", Hex(Err.Number), "80040211"
Check "missing file description", Left(Err.Description, 33), "Error attempting to open file.550"
Err.Clear
On Error GoTo 0
WScript.Echo "END"
