<%@ Language=VBScript %>
<% Option Explicit %>
<!-- #include file="inc/header.inc" -->
<%
Dim who
who = Request.QueryString("who")
If who = "" Then who = "nobody"
%>
<p id="greeting">Hello, <%= Server.HTMLEncode(who) %>.</p>
<% If Request.ServerVariables("REQUEST_METHOD") = "POST" Then %><p id="form"><%= Server.HTMLEncode(Request.Form("text")) %></p><% End If %>
<p id="item"><%= Request("who") %></p>
<!--#include virtual="/inc/footer.inc"-->
