<%@ Language="VBScript" CodePage=65001 %>
<% Option Explicit
' Test page: sets the upload object's settings named in the query string
' (codepage, total, file, files, parts, chunk; absent ones stay unset), calls
' ProcessPostData and prints, one per line with fields separated by |:
' each refused setting, the CodePage in force, the call's result (hex code and
' description), the files in the temporary directory ?tmp= right after the
' call, Form and Files.
Response.Charset = "utf-8"
Response.ContentType = "text/plain"
Dim upload, query, form, files, i, j, line, values, info, fso
Set upload = Server.CreateObject("Tandervale.QORUpload")
Set query = Request.QueryString
Set fso = Server.CreateObject("Scripting.FileSystemObject")

' Reports the error of the setting just made, if any, and clears it.
Sub Refused(name)
    If Err.Number <> 0 Then Response.Write "refused|" & name & "|" & Hex(Err.Number) & "|" & Err.Description & vbLf
    Err.Clear
End Sub

On Error Resume Next
If query("codepage") <> "" Then upload.CodePage = CLng(query("codepage"))
Refused "CodePage"
If query("total") <> "" Then upload.MaxTotalBytes = CLng(query("total"))
Refused "MaxTotalBytes"
If query("file") <> "" Then upload.MaxFileBytes = CLng(query("file"))
Refused "MaxFileBytes"
If query("files") <> "" Then upload.MaxFiles = CLng(query("files"))
Refused "MaxFiles"
If query("parts") <> "" Then upload.MaxParts = CLng(query("parts"))
Refused "MaxParts"
If query("chunk") <> "" Then upload.ReadChunkBytes = CLng(query("chunk"))
Refused "ReadChunkBytes"
upload.ProcessPostData
Response.Write "codepage|" & upload.CodePage & vbLf
Response.Write "result|" & Hex(Err.Number) & "|" & Err.Description & vbLf
On Error GoTo 0

Response.Write "temp|" & fso.GetFolder(query("tmp")).Files.Count & vbLf
Set form = upload.Form
Set files = upload.Files
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
    Response.Write "file|" & files.Key(i) & "|" & info.FileName & "|" & info.ContentType & "|" & info.Size & "|" & info.UserPath & vbLf
Next
%>
