' The test ASP host from a script: a request set up on the page, read and
' answered through the scripting context as a component would.
Option Explicit

Sub Check(label, actual, expected)
    If actual = expected Then
        WScript.Echo "ok " & label
    Else
        WScript.Echo "FAIL " & label & ": got [" & actual & "] expected [" & expected & "]"
    End If
End Sub

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

WScript.Echo "END"
