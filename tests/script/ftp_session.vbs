' One FTP session end to end as a page script writes it, and the Err fields
' a script sees when the component raises.
' Arguments: the loopback FTP server's port and its root folder.

Dim port, root, ftp, fso, folder, passive
port = CLng(WScript.Arguments(0))
root = WScript.Arguments(1)
Set fso = CreateObject("Scripting.FileSystemObject")

Set ftp = CreateObject("corvane.FTP")
UseEngineOfRun ftp
ftp.URL = "127.0.0.1"
ftp.Port = port
ftp.Username = "tester"
ftp.Password = "secret"
' Variables reach the component by reference; literals by value.
passive = True
ftp.Passive = passive
Check "Passive from a variable", ftp.Passive, True
ftp.TransferType = 2
ftp.OpenConnection

Check "Directory at the root", ftp.Directory, "/"
folder = "pub"
ftp.CreateDirectory folder
Check "folder created", fso.FolderExists(root & "\pub"), True
ftp.Directory = folder
Check "Directory after a change", ftp.Directory, "/pub/"
ftp.Directory = "/"
ftp.RenameFile "pub", "incoming"
Check "folder renamed", fso.FolderExists(root & "\incoming"), True
ftp.RemoveDirectory "incoming"
Check "folder removed", fso.FolderExists(root & "\incoming"), False
Check "command without data", ftp.ExecuteCommand("NOOP", False), ""
Check "command reply", Left(ftp.GetLastResponse, 3), "200"

' The second interface's members as a page script reaches them.
Dim stream, copy
Set stream = fso.CreateTextFile(root & "\resume.txt", True)
stream.Write String(1000, "r")
stream.Close
ftp.Timeout = 30
Check "Timeout", ftp.Timeout, 30
Check "remote size", ftp.RemoteFileSize("resume.txt"), 1000
Check "remote size is a Long", VarType(ftp.RemoteFileSize("resume.txt")), vbLong
Check "reply code after SIZE", ftp.LastReplyCode, 213
copy = fso.GetSpecialFolder(2) & "\" & fso.GetTempName
Set stream = fso.CreateTextFile(copy, True)
stream.Write String(400, "r")
stream.Close
ftp.ResumeFile "resume.txt", copy
Check "resumed to the full size", fso.GetFile(copy).Size, 1000
Check "bytes of the resumed part", ftp.BytesTransferred, 600
fso.DeleteFile copy
Check "UTF8 off by default", ftp.UTF8, False

On Error Resume Next
ftp.Timeout = 0
Check "timeout out of range", Hex(Err.Number), "80040213"
Err.Clear
Check "timeout unchanged", ftp.Timeout, 30
Dim size
size = ftp.RemoteFileSize("missing.txt")
Check "size of a missing file", Hex(Err.Number), "80040214"
Err.Clear
Check "reply code after a refusal", ftp.LastReplyCode, 550
On Error GoTo 0

On Error Resume Next
ftp.DeleteFile "missing.txt"
Check "delete error number", Hex(Err.Number), "80040209"
Check "delete error source", Err.Source, "Corvane.FTP"
Check "delete error description", Left(Err.Description, 46), "Error deleting file from the remote server.550"
Err.Clear

ftp.Port = 0
Check "port error number", Hex(Err.Number), "80040201"
Check "port error source", Err.Source, "Corvane.FTP"
Check "port error description", Err.Description, "The port number that you entered is invalid"
Err.Clear
Check "port unchanged", ftp.Port, port

ftp.CloseConnection
Dim directory
directory = ftp.Directory
Check "no connection number", Hex(Err.Number), "8004020D"
Check "no connection description", Err.Description, "Error getting/setting directory.  No connection open."
Err.Clear
On Error GoTo 0

WScript.Echo "END"
