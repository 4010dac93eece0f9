' The six classes as a script sees them: created by ProgID, members found
' by name in any letter case, and the platform's errors for missing members.

' TypeName tells the default interface: a class whose members grew past the
' first interface answers with the newer one's name.
Dim names, interfaces, index, created
names = Array("FTP", "FTPFile", "FTPFiles", "HTTP", "HTTPHeader", "HTTPHeaders")
interfaces = Array("FTP2", "FTPFile", "FTPFiles", "HTTP2", "HTTPHeader", "HTTPHeaders")
For index = 0 To UBound(names)
    Set created = CreateObject("corvane." & names(index))
    ' Windows' TypeName drops the interface name's leading underscore; Wine's keeps it.
    Check "create corvane." & names(index), _
        TypeName(created) = interfaces(index) Or TypeName(created) = "_" & interfaces(index), True
Next

Dim ftp, http, value
Set ftp = CreateObject("corvane.FTP")
UseEngineOfRun ftp
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
