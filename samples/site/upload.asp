<%@ Language="VBScript" CodePage=65001 %>
<% Option Explicit
' A UTF-8 page: with upload.CodePage = 65001 below, the names and values the
' browser sent in UTF-8 reach the script as the text the visitor typed.
Response.Charset = "utf-8"

' What one request may bring. Past a limit ProcessPostData fails with that
' limit's own code and keeps nothing of the request.
Const kMaxTotalBytes = 2147483647  ' the whole body: 2 GiB - 1, the most TotalBytes can count
Const kMaxFileBytes = 1073741824   ' any one file: 1 GiB
Const kMaxFiles = 10             ' files stored
Const kMaxParts = 100            ' fields and files together

' The codes of those failures.
Const QOR_E_BODY_TOO_LARGE = &H80040201
Const QOR_E_FILE_TOO_LARGE = &H80040202
Const QOR_E_TOO_MANY_FILES = &H80040203
Const QOR_E_TOO_MANY_PARTS = &H80040204

' MoveTo without overwrite refuses a name that is taken with one of these.
Const kFileExists = &H80070050
Const kAlreadyExists = &H800700B7
' How many other names ("name (1).ext", ...) a move tries before giving up.
Const kMaxRenames = 99

' How many bytes of each stored file the page reads back and shows.
Const kPreviewBytes = 64

Dim fso
Set fso = Server.CreateObject("Scripting.FileSystemObject")

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

' The page reads the start of the stored file itself, as any page could
' (one character per byte, in the system's code page).
Function FileStart(path, size)
    Dim stream, count
    FileStart = ""
    If size <= 0 Or path = "" Then Exit Function
    count = size
    If count > kPreviewBytes Then count = kPreviewBytes
    Set stream = fso.OpenTextFile(path, 1, False, 0)
    FileStart = stream.Read(count)
    stream.Close
End Function

' What to tell the visitor when the request broke a limit; "" otherwise.
Function LimitMessage(number)
    LimitMessage = ""
    Select Case number
    Case QOR_E_BODY_TOO_LARGE
        LimitMessage = "The upload is larger than " & (kMaxTotalBytes \ 1048576) & " MiB in all."
    Case QOR_E_FILE_TOO_LARGE
        LimitMessage = "A file is larger than " & (kMaxFileBytes \ 1048576) & " MiB."
    Case QOR_E_TOO_MANY_FILES
        LimitMessage = "Please send at most " & kMaxFiles & " files at a time."
    Case QOR_E_TOO_MANY_PARTS
        LimitMessage = "The form holds more than " & kMaxParts & " fields and files."
    End Select
End Function

' Reads the request. A broken limit comes back as a message for the visitor;
' any other failure is the site's fault and goes on to the host's error page.
Function ReadRequest(upload)
    Dim number, source, description
    On Error Resume Next
    upload.ProcessPostData
    number = Err.Number
    source = Err.Source
    description = Err.Description
    On Error GoTo 0
    ReadRequest = LimitMessage(number)
    If number <> 0 And ReadRequest = "" Then Err.Raise number, source, description
End Function

' Saved files go to "uploads" beside the site's folder, not inside it, so that
' nothing uploaded can be fetched from the site, let alone run as a page. The
' account the site runs as needs the right to write there.
Function UploadsFolder()
    UploadsFolder = fso.BuildPath(fso.GetParentFolderName(Server.MapPath("/")), "uploads")
    If fso.FolderExists(UploadsFolder) Then Exit Function
    On Error Resume Next  ' another request may create it at the same moment
    fso.CreateFolder UploadsFolder
End Function

' The client's file name made fit to be a file name here: no characters that
' Windows forbids, no trailing dots or spaces, no device name.
Function SafeName(name)
    Dim re
    Set re = New RegExp
    re.Global = True
    re.Pattern = "[\x00-\x1F\\/:*?""<>|]"
    SafeName = re.Replace(name, "_")
    re.Pattern = "[. ]+$"
    SafeName = re.Replace(SafeName, "")
    re.IgnoreCase = True
    re.Pattern = "^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9])(\.|$)"
    If re.Test(SafeName) Then SafeName = "_" & SafeName
    If SafeName = "" Then SafeName = "upload"
End Function

' Keeps the file in folder under its own name or, when that is taken, as
' "name (1).ext", "name (2).ext", ... MoveTo renames the uploaded file into
' place rather than copying it (a refused name leaves it where it was). It
' never overwrites: MoveTo refuses a taken name itself, so two requests at
' once cannot both get the same one. Returns the path the file went to, or ""
' with the reason in problem.
Function SaveUnique(info, folder, problem)
    Dim name, dot, stem, ext, n, path, number
    name = SafeName(info.FileName)
    dot = InStrRev(name, ".")
    If dot > 1 Then
        stem = Left(name, dot - 1)
        ext = Mid(name, dot)
    Else
        stem = name
        ext = ""
    End If
    SaveUnique = ""
    For n = 0 To kMaxRenames
        path = fso.BuildPath(folder, stem & ext)
        If n > 0 Then path = fso.BuildPath(folder, stem & " (" & n & ")" & ext)
        On Error Resume Next
        info.MoveTo path
        number = Err.Number
        problem = Err.Description
        On Error GoTo 0
        If number = 0 Then
            SaveUnique = path
            problem = ""
            Exit Function
        End If
        If number <> kFileExists And number <> kAlreadyExists Then Exit Function
    Next
End Function

' Publishes the upload's progress under the ID that index.asp put in the
' form's URL, for progress.asp to answer. A malformed ID (or a component
' without progress) only costs the progress bar, never the upload.
Sub UseProgressId(upload)
    Dim id
    id = CStr(Request.QueryString("progress"))
    If id = "" Then Exit Sub
    On Error Resume Next
    upload.ProgressId = id
End Sub

Dim upload, form, files, i, j, values, info, start, problem, save, folder, saved, saveProblem
Set upload = Server.CreateObject("Tandervale.QORUpload")
upload.CodePage = 65001
upload.MaxTotalBytes = kMaxTotalBytes
upload.MaxFileBytes = kMaxFileBytes
upload.MaxFiles = kMaxFiles
upload.MaxParts = kMaxParts
' The body is read and parsed 64 KiB at a time as it arrives, so a large
' upload never sits in memory whole.
upload.ReadChunkBytes = 65536
UseProgressId upload
problem = ReadRequest(upload)
Set form = upload.Form
Set files = upload.Files
' Form holds no empty collection for missing names until a call succeeds.
save = False
If problem = "" Then save = form.Item("save").Count > 0
If save Then folder = UploadsFolder()
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
<% If problem <> "" Then %>
<p id="problem" class="problem"><%= Shown(problem) %> Nothing was kept.</p>
<% Else %>

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
<tr><th>Field</th><th>UserPath</th><th>FileName</th><th>ContentType</th><th>Size</th><th>Saved as</th><th>Start of content</th><th>First bytes (hex)</th></tr>
<% For i = 1 To files.Count
    Set info = files(i)
    start = FileStart(info.TmpPath, info.Size)
    saved = ""
    saveProblem = ""
    If save Then saved = SaveUnique(info, folder, saveProblem) %>
<tr class="file"><td class="field"><%= Shown(files.Key(i)) %></td><td class="userpath"><%= Shown(info.UserPath) %></td><td class="filename"><%= Shown(info.FileName) %></td><td class="contenttype"><%= Shown(info.ContentType) %></td><td class="size"><%= info.Size %></td><td class="saved"><%= Shown(saved) %><% If saveProblem <> "" Then %><span class="problem">Not saved: <%= Shown(saveProblem) %></span><% End If %></td><td><pre class="start"><%= Shown(start) %></pre></td><td class="hex"><%= HexStart(Left(start, 16)) %></td></tr>
<% Next %>
</table>

<h2>Whole form</h2>
<pre id="whole-form"><%= Shown(form.Item()) %></pre>
<% End If %>

<p><a href="/">Upload more</a></p>
</body>
</html>
