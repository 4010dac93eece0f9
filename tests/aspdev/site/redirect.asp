<% Response.Redirect "echo.asp?who=redirected" %>
not sent
