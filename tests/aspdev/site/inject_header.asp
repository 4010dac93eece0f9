<% Response.AddHeader "X-Evil", "a" & vbCrLf & "Set-Cookie: injected=1" %>ok
