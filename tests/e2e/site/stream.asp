<%@ Language="VBScript" %>
<% Option Explicit
' Test page for bodies read as they arrive. It answers TotalBytes, then as
' the query says: ?read=N takes the body with Request.BinaryRead(N) until
' none is left, one line per piece with the count BinaryRead gave back and
' the bytes; ?chunk=N hands it to the component (ReadChunkBytes N) and
' answers each field's first value and each file's size; otherwise it reads
' nothing of the body.
Response.ContentType = "text/plain"
Response.Write "total=" & Request.TotalBytes & vbLf
Dim count, left, piece, upload, i
If Request.QueryString("read") <> "" Then
    left = Request.TotalBytes
    Do While left > 0
        count = CLng(Request.QueryString("read"))
        piece = Request.BinaryRead(count)
        Response.Write "piece=" & count & ":"
        Response.BinaryWrite piece
        Response.Write vbLf
        If count = 0 Then Exit Do  ' a host that gave nothing would loop forever
        left = left - count
    Loop
ElseIf Request.QueryString("chunk") <> "" Then
    Set upload = Server.CreateObject("Tandervale.QORUpload")
    upload.ReadChunkBytes = CLng(Request.QueryString("chunk"))
    upload.ProcessPostData
    For i = 1 To upload.Form.Count
        Response.Write "field=" & upload.Form.Key(i) & ":" & upload.Form(i)(1) & vbLf
    Next
    For i = 1 To upload.Files.Count
        Response.Write "file=" & upload.Files.Key(i) & ":" & upload.Files(i).Size & vbLf
    Next
End If
%>