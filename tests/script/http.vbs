' The HTTP object as a script uses it: URL parsing, a fetch, the headers by
' For Each and by name, and the error for a missing server.
' Arguments: FTP port, FTP root, HTTP port (the loopback HTTP server).

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

' Status and methods: the test server answers "/" to any method, 404 elsewhere.
Dim api
Set api = CreateObject("corvane.HTTP")
Check "no status before a request", api.StatusCode & "[" & api.StatusText & "]", "0[]"
Check "default method", api.Method, "GET"
Check "default timeout", api.Timeout, 60
Check "redirects followed by default", api.FollowRedirects, True
api.URL = "http://127.0.0.1:" & WScript.Arguments(2) & "/missing"
api.OpenConnection
Check "404 is no error", api.StatusCode & " " & api.StatusText, "404 Not Found"
' Wine's VBScript cannot measure a byte array (LenB, UBound: error 445).
Check "its body as bytes", VarType(api.ResponseBody), vbArray + vbByte
api.URL = "http://127.0.0.1:" & WScript.Arguments(2) & "/"
api.Method = "POST"
api.SetRequestHeader "Content-Type", "application/json"
api.RequestBody = "{""a"": 1}"
Check "the body set", api.RequestBody, "{""a"": 1}"
api.OpenConnection
Check "POST answered", api.StatusCode, 200
Check "final URL", api.FinalURL, "http://127.0.0.1:" & WScript.Arguments(2) & "/"
Check "appended to the 404's body", InStr(api.Content, "not found") = 1 And InStr(api.Content, "corvane test server") > 0, True

On Error Resume Next
api.Method = "GET /evil HTTP/1.1"
Check "a method with blanks refused", Hex(Err.Number), "800403ED"
Err.Clear
api.SetRequestHeader "X-Test", "a" & vbCrLf & "Injected: yes"
Check "a header with a line break refused", Hex(Err.Number), "800403ED"
Err.Clear
api.Timeout = 0
Check "a timeout of 0 refused", Hex(Err.Number), "800403ED"
Err.Clear
api.Charset = "no-such-charset"
Check "an unknown charset refused", Hex(Err.Number), "800403ED"
Err.Clear
On Error GoTo 0
Check "refused settings change nothing", api.Method & " " & api.Timeout, "POST 60"

api.Reset
Check "reset: status", api.StatusCode, 0
Check "reset: method", api.Method, "GET"
Check "reset: content", api.Content, ""
Check "reset: headers", api.Headers.Count, 0
Check "reset: body", IsEmpty(api.RequestBody), True
WScript.Echo "END"
