' Listings as a VBScript page reads them: Files with For Each, the default
' member by position and by name, the collection errors in Err, the text.
' Arguments: the loopback FTP server's port and its root folder.

Dim fso, root, ftp, files, entry, names, count
Set fso = CreateObject("Scripting.FileSystemObject")
root = WScript.Arguments(1)
fso.CreateFolder root & "\sub"
fso.CreateTextFile(root & "\readme.txt").Write "hello"

Set ftp = CreateObject("corvane.FTP")
UseEngineOfRun ftp
ftp.URL = "127.0.0.1"
ftp.Port = CLng(WScript.Arguments(0))
ftp.Username = "tester"
ftp.Password = "secret"
ftp.OpenConnection

Set files = ftp.Files
Check "Count", files.Count, 2
count = 0
names = ""
For Each entry In files
    count = count + 1
    names = names & "[" & entry.Filename & "]"
Next
Check "For Each visits every entry", count, 2
Check "both names seen", InStr(names, "[sub]") > 0 And InStr(names, "[readme.txt]") > 0, True
Check "by name in another case", files("README.TXT").Filename, "readme.txt"
Check "by name, size", files.Item("readme.txt").FileSize, 5
Check "by name, type", files("sub").FileType, 1
Check "by position", files(1).Filename = files.Item(1).ID, True

On Error Resume Next
Set entry = files(3)
Check "bad position", Err.Number, 9
Err.Clear
Set entry = files("missing")
Check "missing name", Err.Number, 5
Err.Clear
Set entry = files("1")
Check "digits are a name", Err.Number, 5
Err.Clear
On Error GoTo 0

Check "text listing", ftp.GetDirectoryListing(1), "readme.txt" & vbCrLf
Check "text listing with sizes", ftp.GetDirectoryListing(5), "5              readme.txt" & vbCrLf
ftp.CloseConnection
WScript.Echo "END"
