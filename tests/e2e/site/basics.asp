<%@ Language="VBScript" %>
<% Option Explicit
Response.ContentType = "text/plain"
Dim name
For Each name In Array("REQUEST_METHOD", "QUERY_STRING", "CONTENT_TYPE", "CONTENT_LENGTH", "SCRIPT_NAME", "SERVER_PORT", "REMOTE_ADDR", "HTTP_X_PROBE")
    Response.Write name & "=" & Request.ServerVariables(name) & vbLf
Next
%>query.a=<%= Request.QueryString("a") %>
query.count=<%= Request.QueryString.Count %>
request.a=<%= Request.Item("a") %>
html=<%= Server.HTMLEncode("<a href=""x"">Tom & 'Jerry'</a>") %>
url=<%= Server.URLEncode("a b&c/d") %>
map=<%= Server.MapPath("/sub/file.txt") %>
total=<%= Request.TotalBytes %>
ansi=é <%= Len("é") %> codepage=<%= Response.CodePage %> charset=[<%= Response.Charset %>]
<% If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    Dim body, count
    count = Request.TotalBytes
    body = Request.BinaryRead(count)
    Response.Write "read=" & count & vbLf
    Response.Write "body="
    Response.BinaryWrite body
    Response.Write vbLf
End If %>
done
