<% Response.Status = "200 OK" & vbCrLf & "X-Evil: 1" %>ok
