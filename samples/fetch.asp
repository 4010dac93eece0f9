<%@ Language=VBScript %>
<%
Option Explicit

' A visitor chooses the address and the web server makes the request: fetching any URL would let
' anyone reach what only the web server can (intranet hosts, cloud metadata, services on
' localhost). So only addresses under these prefixes are fetched, by default the bundled loopback
' server, and no redirect is followed: it could lead anywhere. Each prefix ends with "/", so that
' it fixes the host and the port.
Dim allowedPrefixes
allowedPrefixes = Array("http://127.0.0.1:" & Application("HTTPPort") & "/")

Function IsAllowed(url)
    Dim prefix
    IsAllowed = False
    For Each prefix In allowedPrefixes
        If url = Left(prefix, Len(prefix) - 1) Or Left(url, Len(prefix)) = prefix Then IsAllowed = True
    Next
End Function

Dim target
target = Request.Form("url")
target = Trim(target & "")
If target = "" Then target = allowedPrefixes(0)
%>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>HTTP fetch - corvane</title>
<link rel="stylesheet" href="style.css">
</head>
<body>
<header>
<h1>HTTP fetch</h1>
<nav><a href="default.asp">Samples</a><a href="browse.asp">FTP browser</a><a href="fetch.asp">HTTP fetch</a></nav>
</header>
<main>
<p class="lead">Fetches an address with <code>corvane.HTTP</code> and shows what came back, as text. Only the addresses the page allows are fetched.</p>
<form method="post" action="fetch.asp">
<input type="text" name="url" id="url" value="<%= Server.HTMLEncode(target) %>">
<button type="submit" id="fetch">Fetch</button>
</form>
<%
If Request.ServerVariables("REQUEST_METHOD") = "POST" And Not IsAllowed(target) Then
    Dim allowedText, allowedPrefix
    For Each allowedPrefix In allowedPrefixes
        If allowedText <> "" Then allowedText = allowedText & " or "
        allowedText = allowedText & allowedPrefix
    Next
    Response.Write "<p class=""error"" id=""refused"">This page fetches only addresses starting with " & _
        Server.HTMLEncode(allowedText) & ".</p>"
ElseIf Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    Dim http, content, header, failedNumber, failedText
    Set http = Server.CreateObject("corvane.HTTP")
    http.Timeout = 20
    http.FollowRedirects = False
    On Error Resume Next
    http.URL = target
    If Err.Number = 0 Then http.OpenConnection
    If Err.Number = 0 Then content = http.Content
    failedNumber = Err.Number
    failedText = Err.Description
    On Error GoTo 0

    If failedNumber <> 0 Then
        Response.Write "<p class=""error"" id=""failure"">Error &amp;H" & Hex(failedNumber) & ": " & _
            Server.HTMLEncode(failedText) & "</p>"
    Else
        Response.Write "<h2>Status</h2>" & vbCrLf
        Response.Write "<p id=""status"">" & Server.HTMLEncode(http.StatusCode & " " & http.StatusText) & "</p>" & vbCrLf
        Response.Write "<h2>Response headers</h2>" & vbCrLf
        Response.Write "<table id=""headers""><tr><th>Name</th><th>Value</th></tr>" & vbCrLf
        For Each header In http.Headers
            Response.Write "<tr><td>" & Server.HTMLEncode(header.Name) & "</td><td>" & _
                Server.HTMLEncode(Trim(header.Value)) & "</td></tr>" & vbCrLf
        Next
        Response.Write "</table>" & vbCrLf
        Response.Write "<h2>Content</h2>" & vbCrLf
        Response.Write "<pre class=""content"" id=""content"">" & Server.HTMLEncode(content) & "</pre>" & vbCrLf
    End If
End If
%>
</main>
</body>
</html>
