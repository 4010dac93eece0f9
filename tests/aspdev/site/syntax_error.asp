<%
If True Then
%>
