<%
Dim ftp
Set ftp = Server.CreateObject("corvane.FTP")
ftp.URL = "127.0.0.1"
ftp.Port = CLng(Application("FTPPort"))
ftp.Username = "tester"
ftp.Password = "secret"
ftp.Passive = True
ftp.TransferType = 2
ftp.OpenConnection
%><html><body><% ftp.PrintClient
ftp.CloseConnection %></body></html>
