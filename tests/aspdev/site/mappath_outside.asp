<% On Error Resume Next
Dim p
p = Server.MapPath("../../etc/passwd")
Response.Write Err.Number <> 0 %>
