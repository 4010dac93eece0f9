<%
Response.Write "dropped"
Response.Clear
Response.ContentType = "text/plain"
Response.Charset = "windows-1252"
Response.AddHeader "X-Fixture", "yes"
Response.Status = "201 Created"
Response.Cookies("flavour") = "oat & raisin"
Response.Cookies("flavour").Path = "/sub"
Response.Write "kept"
Response.End
Response.Write "after end"
%>
