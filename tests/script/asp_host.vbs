' The test ASP host from a script: a request set up on the page, read and
' answered through the scripting context as a component would.

Dim page, context, values, value
Set page = CreateObject("AspTestHost.Page")
page.ParseQueryString "d=first+value&e=1&d=%E9"
Set context = page.Context

Set values = context.Request.QueryString("d")
Check "two values under d", values.Count, 2
Check "values joined", context.Request.QueryString("d"), "first value, " & Chr(233)
Check "second value", values(2), Chr(233)
Check "key letter case ignored", context.Request.QueryString("E"), "1"
value = context.Request.QueryString("missing")
Check "missing key reads as Empty", IsEmpty(value), True
Check "missing key has no values", context.Request.QueryString("missing").Count, 0

context.Response.Write "got "
context.Response.Write context.Request.QueryString("d")(1)
context.Response.End
context.Response.Write " after End"
Check "body", page.Body, "got first value"
Check "ended", page.Ended, True
Check "calls", page.Calls, "Write" & vbCrLf & "Write" & vbCrLf & "End" & vbCrLf & "Write"

page.FailNext "Server.URLEncode", &H80040777, "encoder down"
On Error Resume Next
value = context.Server.URLEncode("a b")
Check "failure number", Err.Number, &H80040777
Check "failure source", Err.Source, "Server object"
Check "failure description", Err.Description, "encoder down"
Err.Clear
value = context.Server.URLEncode("a b")
Check "only the next call fails", Err.Number, 0
On Error GoTo 0
Check "URLEncode", value, "a+b"

' Members a page of any host has: session and application stores, the
' body, paths, and the cookies set so far.
Dim other, session, application, cookies, names, name, count, bytes, fso
Set other = CreateObject("AspTestHost.Page")
other.ParseForm "a=1&b=%26"
Set session = other.Context.Session
session.Value("user") = "ann"
Check "session keeps a value", other.Context.Session.Value("USER"), "ann"
Check "session of another page is its own", page.Context.Session.Value("user"), Empty
Set application = other.Context.Application
application.Value("hits") = 3
Check "application keeps a value", other.Context.Application.Value("hits"), 3

count = 100
bytes = other.Context.Request.BinaryRead(count)
Check "BinaryRead counts what it read (the form as sent)", count, Len("a=1&b=%26")
Check "BinaryRead gives bytes", VarType(bytes), 8209
count = 5
bytes = other.Context.Request.BinaryRead(count)
Check "BinaryRead goes on from where it stopped", count, 0

Set fso = CreateObject("Scripting.FileSystemObject")
Check "MapPath from the current folder", other.Context.Server.MapPath("/a/b.txt"), _
      fso.BuildPath(fso.GetAbsolutePathName("."), "a\b.txt")
On Error Resume Next
value = other.Context.Server.MapPath("../outside.txt")
Check "MapPath refuses a path above the root", Err.Number <> 0, True
On Error GoTo 0
Check "URLPathEncode", other.Context.Server.URLPathEncode("/a b/c%d?e#f"), "/a%20b/c%25d%3Fe%23f"

Set cookies = other.Context.Response.Cookies
cookies("first").Path = "/x"
cookies("second").Domain = "example.com"
names = ""
For Each name In cookies
    names = names & name & ";"
Next
Check "Response.Cookies lists names in order", names, "first;second;"
Check "Response.Cookies key by position", cookies.Key(2), "second"
Check "Response.Cookies key by name", cookies.Key("FIRST"), "first"
Check "Response.Cookies key never set", IsEmpty(cookies.Key("third")), True

WScript.Echo "END"
