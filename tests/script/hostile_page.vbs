' The directory browser with a query that would add an FTP command: any
' visitor of the page chooses d and f. Against the loopback FTP server, the
' second command must never arrive.
' Arguments: FTP port, FTP root, HTTP port.

Dim fso, root
Set fso = CreateObject("Scripting.FileSystemObject")
root = WScript.Arguments(1)
fso.CreateFolder root & "\pub"
fso.CreateTextFile(root & "\pub\keep.txt").Write "keep"

Function NewPage(query, value)
    Dim made
    Set made = CreateObject("AspTestHost.Page")
    made.SetServerVariable "SERVER_NAME", "localhost"
    made.SetServerVariable "SERVER_PORT", "8080"
    made.SetServerVariable "SCRIPT_NAME", "/browse.asp"
    made.SetQueryString query, value
    Set NewPage = made
End Function

Sub Visit(label, query, value, number)
    Dim page, ftp
    Set page = NewPage(query, value)
    Set ftp = CreateObject("corvane.FTP")
    UseEngineOfRun ftp
    ftp.OnStartPage page.Context
    ftp.URL = "127.0.0.1"
    ftp.Port = CLng(WScript.Arguments(0))
    ftp.Username = "tester"
    ftp.Password = "secret"
    ftp.Passive = True
    ftp.OpenConnection
    On Error Resume Next
    ftp.PrintClient
    Check label & " number", Hex(Err.Number), number
    Check label & " reason", Right(Err.Description, 56), "holds a line break or NUL character, so it was not sent."
    Err.Clear
    On Error GoTo 0
    Check label & " page untouched", page.Calls, ""
    Check label & " directory unchanged", ftp.Directory, "/"
End Sub

Visit "d", "d", "/pub" & vbCrLf & "MKD injected", "80040203"
Visit "f", "f", "/pub/keep.txt" & vbCrLf & "DELE pub/keep.txt", "80040211"
Visit "d with NUL", "d", "/pub" & Chr(0) & "/x", "80040203"
Check "no directory made", fso.FolderExists(root & "\injected"), False
Check "file kept", fso.FileExists(root & "\pub\keep.txt"), True
WScript.Echo "END"
