<html>
<%
Dim y
y = 1
Err.Raise 1234, "fixture source", "the fixture raised <this>"
%>
