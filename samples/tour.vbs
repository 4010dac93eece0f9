' A tour of corvane against the bundled loopback servers.
'   cscript //nologo tour.vbs <ftp port> <http port>
Option Explicit

Dim ftpPort, httpPort
ftpPort = CLng(WScript.Arguments(0))
httpPort = CLng(WScript.Arguments(1))

Sub Title(text)
    WScript.Echo ""
    WScript.Echo "-- " & text
End Sub

Dim fso, work
Set fso = CreateObject("Scripting.FileSystemObject")
work = fso.BuildPath(fso.GetSpecialFolder(2), "corvane-tour-" & fso.GetTempName)
fso.CreateFolder work

' --- FTP session -----------------------------------------------------------
Dim ftp
Set ftp = CreateObject("corvane.FTP")
Title "FTP component version " & ftp.Version
ftp.URL = "127.0.0.1"
ftp.Port = ftpPort
ftp.Username = "tester"
ftp.Password = "secret"
ftp.Passive = True
ftp.OpenConnection
WScript.Echo "connected; current directory " & ftp.Directory

Title "Listing of / (GetDirectoryListing, all columns)"
WScript.Echo ftp.GetDirectoryListing(63)

Title "Listing of /pub as objects (Files, For Each)"
ftp.Directory = "/pub"
Dim files, entry, kind
Set files = ftp.Files
For Each entry In files
    If entry.FileType = 1 Then kind = "directory" Else kind = "file, " & entry.FileSize & " bytes"
    WScript.Echo "  " & entry.Filename & " (" & kind & ")"
Next
WScript.Echo "by name, in any case: NOTES.TXT was last written " & files("NOTES.TXT").LastWriteTime

Title "Single files (PutFile, GetFile)"
ftp.Directory = "/"
ftp.TransferType = 2
Dim upload
upload = fso.BuildPath(work, "hello.txt")
fso.CreateTextFile(upload).Write "Hello from the tour."
' An earlier run of the tour may have made it already.
On Error Resume Next
ftp.CreateDirectory "uploads"
On Error GoTo 0
ftp.PutFile upload, "/uploads/hello.txt"
ftp.GetFile "/uploads/hello.txt", fso.BuildPath(work, "hello-back.txt"), True
WScript.Echo "round trip: " & fso.OpenTextFile(fso.BuildPath(work, "hello-back.txt")).ReadAll
WScript.Echo "directory after PutFile is still " & ftp.Directory

Title "Whole trees (GetDirectory, PutDirectory)"
ftp.GetDirectory "/pub/docs", fso.BuildPath(work, "docs"), True, True
WScript.Echo "downloaded /pub/docs: " & fso.GetFolder(fso.BuildPath(work, "docs")).Files.Count & " file(s), " & _
    fso.GetFolder(fso.BuildPath(work, "docs")).SubFolders.Count & " folder(s)"
ftp.PutDirectory fso.BuildPath(work, "docs"), "/uploads", True
ftp.Directory = "/uploads"
WScript.Echo "uploaded again into /uploads:"
WScript.Echo ftp.GetDirectoryListing(3)
ftp.Directory = "/"

Title "Raw commands and the server's replies"
ftp.ExecuteCommand "NOOP", False
WScript.Echo "NOOP answered: " & ftp.GetLastResponse

Title "Errors carry a number, a source and a description"
On Error Resume Next
ftp.DeleteFile "no-such-file.txt"
WScript.Echo "  Err.Number      = &H" & Hex(Err.Number)
WScript.Echo "  Err.Source      = " & Err.Source
WScript.Echo "  Err.Description = " & Err.Description
Err.Clear
On Error GoTo 0

' --- The browser page, written into a test ASP page --------------------------
Title "PrintClient into an ASP page (request ?d=/pub)"
Dim page
Set page = CreateObject("AspTestHost.Page")
page.SetServerVariable "SERVER_NAME", "localhost"
page.SetServerVariable "SERVER_PORT", "80"
page.SetServerVariable "SCRIPT_NAME", "/browse.asp"
page.SetQueryString "d", "/pub"
ftp.OnStartPage page.Context
ftp.PrintClient
WScript.Echo page.Body

Title "DownloadFileToClient into another page"
Set page = CreateObject("AspTestHost.Page")
ftp.OnStartPage page.Context
ftp.DownloadFileToClient "/pub/data.csv"
WScript.Echo page.Headers
WScript.Echo page.Body
ftp.CloseConnection

Title "The component's own FTP engine (Engine = 2, EngineNative)"
ftp.Engine = 2
ftp.OpenConnection
ftp.Directory = "/pub"
For Each entry In ftp.Files
    WScript.Echo "  " & entry.Filename
Next
ftp.CloseConnection

' --- HTTP --------------------------------------------------------------------
Dim http, header
Set http = CreateObject("corvane.HTTP")
Title "HTTP component version " & http.Version
http.URL = "http://127.0.0.1:" & httpPort & "/"
WScript.Echo "server " & http.ServerName & ", path " & http.Path
http.OpenConnection
For Each header In http.Headers
    WScript.Echo "  " & header.Name & ":" & header.Value
Next
WScript.Echo "content: " & http.Content

fso.DeleteFolder work, True
WScript.Echo ""
WScript.Echo "-- tour complete"
