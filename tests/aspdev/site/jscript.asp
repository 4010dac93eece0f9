<%@ Language="JScript" %>
<% Response.Write("js") %>
