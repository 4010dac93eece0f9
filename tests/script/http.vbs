' The HTTP object as a script uses it: URL parsing, a fetch, the headers by
' For Each and by name, and the error for a missing server.
' Arguments: FTP port, FTP root, HTTP port (the loopback HTTP server).
Option Explicit

Sub Check(label, actual, expected)
    If actual = expected Then
        WScript.Echo "ok " & label
    Else
        WScript.Echo "FAIL " & label & ": got [" & actual & "] expected [" & expected & "]"
    End If
End Sub

Dim http, cases, i
Set http = CreateObject("corvane.HTTP")
Check "Version", http.Version, "1.01.1"
Check "no server yet", http.ServerName, ""

' URL, server name, path
cases = Array( _
    "HTTP://Server1/Dir/Page.asp?x=1", "Server1", "/Dir/Page.asp?x=1", _
    "  http://server1  ", "server1", "/", _
    "server1", "server1", "/", _
    "https://server1:8443/x", "server1:8443", "/x", _
    "server1/go?to=http://other/", "server1", "/go?to=http://other/", _
    "/page", "", "/page", _
    "http://", "", "/")
For i = 0 To UBound(cases) Step 3
    http.URL = cases(i)
    Check "server of " & cases(i), http.ServerName, cases(i + 1)
    Check "path of " & cases(i), http.Path, cases(i + 2)
Next
http.URL = "server1/a"
http.URL = "   "
Check "blank URL changes nothing", http.ServerName & http.Path, "server1/a"

On Error Resume Next
http.URL = "/only/a/path"
http.OpenConnection
Check "no server: number", Hex(Err.Number), "800403EC"
Check "no server: source", Err.Source, "Corvane.HTTP"
Check "no server: description", Err.Description, "No URL set.  Please ensure that the URL property is set."
Err.Clear
On Error GoTo 0

Dim page, header, names, headers
Set page = CreateObject("corvane.HTTP")
page.URL = "http://127.0.0.1:" & WScript.Arguments(2) & "/"
page.OpenConnection
Check "content fetched", InStr(page.Content, "corvane test server") > 0, True
Set headers = page.Headers
names = ""
For Each header In headers
    names = names & "[" & header.Name & "]"
Next
Check "For Each sees Content-Type", InStr(names, "[Content-Type]") > 0, True
Check "Item by name, any case", Left(headers("content-type"), 10), " text/html"
Check "Count", headers.Count > 0, True
WScript.Echo "END"
