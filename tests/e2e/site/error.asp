<html><body>
<p>before the error</p>
<%
Dim zero
zero = 0
Response.Write 1 / zero
%>
<p>after the error</p>
</body></html>
