<%
Session("visits") = Session("visits") + 1
If Request.QueryString("abandon") = "1" Then Session.Abandon
Application("hits") = Application("hits") + 1
%><p id="visits"><%= Session("visits") %></p><p id="seed"><%= Application("Seed") %></p><p id="id"><%= Session.SessionID %></p>
