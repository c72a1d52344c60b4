<%@ Language="VBScript" %>
<% Option Explicit

' How many bytes of each stored file the page reads back and shows.
Const kPreviewBytes = 64

' Text for the page: markup escaped, control characters shown as dots.
Function Shown(text)
    Dim i, c, out
    out = ""
    For i = 1 To Len(text)
        c = Mid(text, i, 1)
        If Asc(c) < 32 And c <> vbTab And c <> vbLf And c <> vbCr Then c = "."
        out = out & c
    Next
    Shown = Server.HTMLEncode(out)
End Function

' The first bytes of a stored file in hexadecimal, two digits each.
Function HexStart(text)
    Dim i, out
    out = ""
    For i = 1 To Len(text)
        If i > 1 Then out = out & " "
        out = out & Right("0" & Hex(Asc(Mid(text, i, 1))), 2)
    Next
    HexStart = out
End Function

' The page reads the start of the stored file itself, as any page could.
Function FileStart(path, size)
    Dim fso, stream, count
    FileStart = ""
    If size <= 0 Or path = "" Then Exit Function
    count = size
    If count > kPreviewBytes Then count = kPreviewBytes
    Set fso = Server.CreateObject("Scripting.FileSystemObject")
    Set stream = fso.OpenTextFile(path, 1, False, 0)
    FileStart = stream.Read(count)
    stream.Close
End Function

Dim upload, form, files, i, j, values, info, start
Set upload = Server.CreateObject("Tandervale.QORUpload")
upload.ProcessPostData
Set form = upload.Form
Set files = upload.Files
%>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>QORUpload sample: what the page received</title>
<link rel="stylesheet" href="/style.css">
</head>
<body>
<h1>What the page received</h1>
<p class="note"><%= Request.TotalBytes %> bytes of <code><%= Shown(Request.ServerVariables("CONTENT_TYPE")) %></code></p>

<h2>Fields (<span id="field-count"><%= form.Count %></span>)</h2>
<table id="fields">
<tr><th>Name</th><th>Values</th></tr>
<% For i = 1 To form.Count
    Set values = form(i) %>
<tr class="field"><td class="name"><%= Shown(form.Key(i)) %></td><td><ol><% For j = 1 To values.Count %><li class="value"><%= Shown(values(j)) %></li><% Next %></ol></td></tr>
<% Next %>
</table>

<h2>Files (<span id="file-count"><%= files.Count %></span>)</h2>
<table id="files">
<tr><th>Field</th><th>UserPath</th><th>Size</th><th>Start of content</th><th>First bytes (hex)</th></tr>
<% For i = 1 To files.Count
    Set info = files(i)
    start = FileStart(info.TmpPath, info.Size) %>
<tr class="file"><td class="field"><%= Shown(files.Key(i)) %></td><td class="userpath"><%= Shown(info.UserPath) %></td><td class="size"><%= info.Size %></td><td><pre class="start"><%= Shown(start) %></pre></td><td class="hex"><%= HexStart(Left(start, 16)) %></td></tr>
<% Next %>
</table>

<h2>Whole form</h2>
<pre id="whole-form"><%= Shown(form.Item()) %></pre>

<p><a href="/">Upload more</a></p>
</body>
</html>
