<%@ Language="VBScript" %>
<% Option Explicit
' Load test page: processes the upload and answers one line per field value
' and per file, so that the client can check the whole answer exactly; with
' ?to=DIR it also saves each file there with SaveAs, as N.bin in arrival order;
' ?chunk=N reads the body with ReadChunkBytes N.
Response.ContentType = "text/plain"
Dim upload, form, files, i, j, values, info, target
Set upload = Server.CreateObject("Tandervale.QORUpload")
If Request.QueryString("chunk") <> "" Then upload.ReadChunkBytes = CLng(Request.QueryString("chunk"))
upload.ProcessPostData
Set form = upload.Form
Set files = upload.Files
target = Request.QueryString("to")
For i = 1 To form.Count
    Set values = form(i)
    For j = 1 To values.Count
        Response.Write "field|" & form.Key(i) & "|" & values(j) & vbLf
    Next
Next
For i = 1 To files.Count
    Set info = files(i)
    If target <> "" Then info.SaveAs target & "\" & i & ".bin"
    Response.Write "file|" & files.Key(i) & "|" & info.FileName & "|" & info.Size & vbLf
Next
Response.Write "end" & vbLf
%>