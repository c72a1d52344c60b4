<%@ Language="VBScript" %>
<% Option Explicit
' Test page: processes the upload, reports every field and file one per line
' (fields separated by |), and copies each stored file to the directory given
' as ?to= so that the test can compare the stored bytes with what it sent.
Response.ContentType = "text/plain"
Dim upload, form, files, fso, i, j, line, values, info, target, existed
Set fso = Server.CreateObject("Scripting.FileSystemObject")
Set upload = Server.CreateObject("Tandervale.QORUpload")
upload.ProcessPostData
Set form = upload.Form
Set files = upload.Files
target = Request.QueryString("to")
For i = 1 To form.Count
    line = "field|" & form.Key(i)
    Set values = form(i)
    For j = 1 To values.Count
        line = line & "|" & values(j)
    Next
    Response.Write line & vbLf
Next
For i = 1 To files.Count
    Set info = files(i)
    existed = False
    If info.TmpPath <> "" Then existed = fso.FileExists(info.TmpPath)
    If existed And target <> "" Then fso.CopyFile info.TmpPath, target & "\" & i & ".bin"
    Response.Write "file|" & files.Key(i) & "|" & info.UserPath & "|" & info.Size & "|" & info.TmpPath & "|" & existed & vbLf
Next
Response.Write "whole|" & form.Item() & vbLf
Response.Write "end" & vbLf
%>
