<%
Dim ftp
Set ftp = Server.CreateObject("corvane.FTP")
ftp.URL = "127.0.0.1"
ftp.Port = CLng(Application("FTPPort"))
ftp.Username = "tester"
ftp.Password = "secret"
ftp.Passive = True
If Request.QueryString("engine") <> "" Then ftp.Engine = CLng(Request.QueryString("engine"))
ftp.TransferType = 2
ftp.OpenConnection
ftp.DownloadFileToClient Request.QueryString("f")
' The page has ended; the connection must still serve a command, and the
' folder's name tells the test how much was sent.
ftp.CreateDirectory "sent-" & ftp.Engine & "-" & ftp.BytesTransferred
ftp.CloseConnection
%>
