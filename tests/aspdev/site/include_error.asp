<%
Dim a
a = 1
%>
<!-- #include file="inc/broken.inc" -->
