<%@ Language=VBScript %>
<%
Option Explicit

' The FTP server on this machine, as ./run serve starts it.
Dim ftp
Set ftp = Server.CreateObject("corvane.FTP")
ftp.URL = "127.0.0.1"
ftp.Port = CLng(Application("FTPPort"))
ftp.Username = "tester"
ftp.Password = "secret"
ftp.Passive = True
ftp.TransferType = 2   ' binary: downloads arrive byte for byte
ftp.Timeout = 20

Dim requestedFile, uploadField, folder, failure
requestedFile = Request.QueryString("f")
uploadField = Request.Form("u")
folder = Request.QueryString("d")
folder = folder & ""
If folder = "" Then folder = "/"

On Error Resume Next
ftp.OpenConnection
If Err.Number <> 0 Then failure = "Could not reach the FTP server at 127.0.0.1:" & Application("FTPPort") & _
    " (error &H" & Hex(Err.Number) & "): " & Err.Description
On Error GoTo 0

' A link to a file gets the file itself in place of this page; a file that
' cannot be sent gets this page with the reason.
If failure = "" And (Trim(requestedFile & "") <> "" Or Trim(uploadField & "") <> "") Then
    On Error Resume Next
    ftp.PrintClient
    If Err.Number = 0 Then
        ftp.CloseConnection
        Response.End
    End If
    failure = "Could not send this file (error &H" & Hex(Err.Number) & "): " & Err.Description
    On Error GoTo 0
    Response.Clear
    Response.ContentType = "text/html"
    ftp.CloseConnection
End If
%>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>FTP browser - corvane</title>
<link rel="stylesheet" href="style.css">
</head>
<body>
<header>
<h1>FTP browser</h1>
<nav><a href="default.asp">Samples</a><a href="browse.asp">Top folder</a><a href="fetch.asp">HTTP fetch</a></nav>
</header>
<main>
<p class="lead">The files on the FTP server at 127.0.0.1:<%= Server.HTMLEncode(Application("FTPPort") & "") %>,
listed by <code>corvane.FTP</code>. Click a folder to open it, a file to download it.</p>
<h2>Folder <code id="folder"><%= Server.HTMLEncode(folder) %></code></h2>
<%
If failure = "" Then
    ' The listing of the folder the request names, links and all.
    On Error Resume Next
    ftp.PrintClient
    If Err.Number <> 0 Then failure = "Could not list this folder (error &H" & Hex(Err.Number) & "): " & Err.Description
    On Error GoTo 0
    ftp.CloseConnection
End If
If failure <> "" Then
    Response.Write "<p class=""error"" id=""failure"">" & Server.HTMLEncode(failure) & "</p>"
    Response.Write "<p><a href=""browse.asp"">Back to the top folder</a></p>"
End If
%>
</main>
</body>
</html>
