' The members a page opts into, reached by name: CodePage, the limits and
' their result codes, ReadChunkBytes, and the file infos' FileName,
' ContentType and SaveAs. Saved copies go to a folder of the script's own in
' the temporary folder, removed at the end.
' Prints SCRIPT-OK as its last line when every check passed.

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Const kB = "QorSecondLayer"
Const kUrl = "application/x-www-form-urlencoded"
Dim kMultipart : kMultipart = "multipart/form-data; boundary=" & kB
Dim host, up, n, d, i, row, text, info, what, grown

' A file part with its own Content-Type.
Function FilePart(fieldName, fileName, contentType, data)
    FilePart = "--" & kB & vbCrLf & "Content-Disposition: form-data; name=""" & fieldName & """; filename=""" _
             & fileName & """" & vbCrLf & "Content-Type: " & contentType & vbCrLf & vbCrLf & data & vbCrLf
End Function

Function FileText(path)
    Dim stream
    Set stream = fso.OpenTextFile(path, 1)
    If stream.AtEndOfStream Then FileText = "" Else FileText = stream.ReadAll
    stream.Close
End Function

Sub WriteFile(path, text)
    Dim stream
    Set stream = fso.CreateTextFile(path, True)
    stream.Write text
    stream.Close
End Sub

' A new upload object on a started page, with the body set.
Sub NewPage(contentType, body)
    Set host = CreateObject("QORTest.PageHost")
    Set up = CreateObject("Tandervale.QORUpload")
    host.SetContentType contentType
    host.SetBody body
    host.Start up
End Sub

' A call's Err.Number and Err.Description into n and d.
Sub TryPost()
    On Error Resume Next
    up.ProcessPostData
    n = Err.Number : d = Err.Description
    On Error GoTo 0
End Sub

Sub SetSetting(name, value)
    On Error Resume Next
    Select Case name
        Case "CodePage" : up.CodePage = value
        Case "MaxTotalBytes" : up.MaxTotalBytes = value
        Case "MaxFileBytes" : up.MaxFileBytes = value
        Case "MaxFiles" : up.MaxFiles = value
        Case "MaxParts" : up.MaxParts = value
    End Select
    n = Err.Number : d = Err.Description
    On Error GoTo 0
End Sub

Sub TrySave(fileInfo, path, overwrite)
    On Error Resume Next
    If IsEmpty(overwrite) Then fileInfo.SaveAs path Else fileInfo.SaveAs path, overwrite
    n = Err.Number : d = Err.Description
    On Error GoTo 0
End Sub

' CodePage: 0 and 1252 read UTF-8 bytes as ANSI characters, 65001 as UTF-8,
' in values and in file names; an unknown code page is refused.
Dim utf8Text : utf8Text = Chr(233) & Chr(128)
Dim ansiText : ansiText = Chr(195) & Chr(169) & Chr(226) & Chr(130) & Chr(172)
For Each row In Array(Array(0, ansiText), Array(1252, ansiText), Array(65001, utf8Text))
    NewPage kMultipart, ""
    host.SetBody Part(kB, "v", Null, utf8Text) & Part(kB, "f", utf8Text & ".txt", "x") & "--" & kB & "--", 65001
    up.CodePage = row(0)
    CheckEq up.CodePage, row(0), "CodePage reads back " & row(0)
    up.ProcessPostData
    text = up.Form("v")(1)
    CheckEq text, row(1), "a value in code page " & row(0)
    CheckEq up.Files("f").FileName, row(1) & ".txt", "a file name in code page " & row(0)
    ' The objects still name themselves as before the second layer.
    CheckEq TypeName(up), "IQORUpload", "TypeName of the upload object"
    CheckEq TypeName(up.Form), "IQORVariantDictionary", "TypeName of Form"
    CheckEq TypeName(up.Files), "IQORVariantDictionary", "TypeName of Files"
    CheckEq TypeName(up.Form("v")), "IQORVariantCollection", "TypeName of a Form value"
    CheckEq TypeName(up.Files("f")), "IQORFileInfo", "TypeName of a file"
    host.End up
Next
NewPage kUrl, "a=1"
SetSetting "CodePage", 12345
CheckEq Hex(n), "80070057", "CodePage 12345"
CheckEq d, "CodePage 12345 is not a code page installed on this system", "CodePage 12345: description"
CheckEq up.CodePage, 0, "a refused CodePage leaves it as it was"
SetSetting "MaxFiles", -1
CheckEq Hex(n), "80070057", "MaxFiles -1"
Check InStr(d, "MaxFiles") > 0, "MaxFiles -1 is described: " & d

' Each limit at exactly what the body holds passes; set one lower, the body
' is one past it and fails with the limit's own code, leaving Form and Files
' as the call before left them. Values of a URL-encoded body are no files.
Dim urlBody : urlBody = "a=1&b=22&a=333"
Dim partsBody : partsBody = Part(kB, "a", Null, "1") & Part(kB, "f", "f.bin", "12345") _
                          & Part(kB, "g", "g.txt", "ab") & "--" & kB & "--" & vbCrLf
Dim keptBody : keptBody = Part(kB, "kept", Null, "1") & Part(kB, "k", "k.txt", "kk") & "--" & kB & "--" & vbCrLf
Dim limits : limits = Array( _
    Array("MaxTotalBytes", False, Len(urlBody), "80040201"), Array("MaxTotalBytes", True, Len(partsBody), "80040201"), _
    Array("MaxParts", False, 3, "80040204"), Array("MaxParts", True, 3, "80040204"), _
    Array("MaxFiles", True, 2, "80040203"), Array("MaxFileBytes", True, 5, "80040202"), _
    Array("MaxFiles", False, 1, ""), Array("MaxFileBytes", False, 1, ""))
For Each row In limits
    For i = 0 To 1
        what = row(0) & " " & (row(2) - i)
        NewPage kMultipart, keptBody
        up.ProcessPostData
        SetSetting row(0), row(2) - i
        CheckEq n, 0, what & ": put"
        If row(1) Then
            what = what & " on a multipart body"
            host.SetBody partsBody
            grown = 5
        Else
            what = what & " on a URL-encoded body"
            host.SetContentType kUrl
            host.SetBody urlBody
            grown = 4
        End If
        TryPost
        If i = 0 Or row(3) = "" Then
            CheckEq n, 0, what & " passes"
            CheckEq up.Form.Count, grown, what & ": Form grew"
        Else
            CheckEq Hex(n), row(3), what & " fails"
            Check InStr(d, row(0)) > 0, what & ": description " & d
            text = up.Form()
            CheckEq text, "kept=1;k=k.txt", what & ": Form as before"
            CheckEq up.Files.Count, 1, what & ": Files as before"
            CheckEq up.Files(1).UserPath, "k.txt", what & ": the file before"
        End If
        host.End up
    Next
Next

' FileName is the last segment of what the browser sent; ContentType the
' part's type as sent.
Dim names : names = Array( _
    Array("C:\Users\ann\report.txt", "report.txt", "text/plain"), _
    Array("/home/ann/notes.md", "notes.md", "text/markdown; charset=utf-8"), _
    Array("C:\Users\ann\", "", "application/octet-stream"), _
    Array("..", "", "image/png"))
text = ""
For Each row In names
    text = text & FilePart("f", row(0), row(2), "x")
Next
NewPage kMultipart, text & "--" & kB & "--"
up.ProcessPostData
CheckEq up.Files.Count, UBound(names) + 1, "one file per name"
For i = 0 To UBound(names)
    Set info = up.Files(i + 1)
    CheckEq info.UserPath, names(i)(0), "UserPath " & names(i)(0)
    CheckEq info.FileName, names(i)(1), "FileName of " & names(i)(0)
    CheckEq info.ContentType, names(i)(2), "ContentType of " & names(i)(0)
Next
host.End up

' SaveAs copies the file; it replaces an existing one only when told to, and
' a refused save leaves nothing behind in the folder.
Dim folder : folder = fso.BuildPath(fso.GetSpecialFolder(2), "qor-second-layer-" & fso.GetTempName())
fso.CreateFolder folder
Dim target : target = fso.BuildPath(folder, "saved.txt")
Dim other : other = fso.BuildPath(folder, "other.txt")
NewPage kMultipart, FilePart("f", "a.txt", "text/plain", "file data") & "--" & kB & "--"
up.ProcessPostData
Set info = up.Files("f")
TrySave info, target, Empty
CheckEq n, 0, "SaveAs to a new file"
CheckEq FileText(target), "file data", "the saved copy"
WriteFile other, "old"
TrySave info, other, Empty
CheckEq Hex(n), "800700B7", "SaveAs onto an existing file"
Check InStr(d, other) > 0, "the refusal names the path: " & d
CheckEq FileText(other), "old", "the existing file is kept"
TrySave info, other, False
CheckEq Hex(n), "800700B7", "SaveAs onto an existing file, overwrite False"
TrySave info, other, True
CheckEq n, 0, "SaveAs with overwrite"
CheckEq FileText(other), "file data", "the replaced file"
TrySave info, fso.BuildPath(folder, "missing\x.txt"), True
CheckEq Left(Hex(n), 4), "8007", "SaveAs into a missing directory fails with the system's code: " & Hex(n)
Check InStr(d, "missing\x.txt") > 0, "the failure names the path: " & d
TrySave info, target, True
CheckEq n, 0, "SaveAs the same file a second time"
CheckEq FileText(target), "file data", "the second copy"
Check fso.FileExists(info.TmpPath), "the temporary file stays after SaveAs"
CheckEq fso.GetFolder(folder).Files.Count, 2, "only the saved files are in the folder"
host.End up
Set up = Nothing
TrySave info, fso.BuildPath(folder, "late.txt"), True
CheckEq Hex(n), "80040206", "SaveAs after the upload object is gone"
Check Not fso.FileExists(fso.BuildPath(folder, "late.txt")), "nothing saved after the object is gone"
CheckEq info.FileName, "a.txt", "the file info still answers"
CheckEq FileText(target), "file data", "a saved copy outlives the upload object"
CheckEq fso.GetFolder(folder).Files.Count, 2, "no file left by a refused save"

' MoveTo by name: the file leaves the upload object's keeping, TmpPath says
' where it is, and it outlives the upload object.
Dim moved : moved = fso.BuildPath(folder, "moved.txt")
NewPage kMultipart, FilePart("f", "m.txt", "text/plain", "moved data") & "--" & kB & "--"
up.ProcessPostData
Set info = up.Files("f")
Dim wasAt : wasAt = info.TmpPath
info.MoveTo moved
CheckEq info.TmpPath, moved, "TmpPath after MoveTo"
Check Not fso.FileExists(wasAt), "moved, not copied"
On Error Resume Next
info.MoveTo fso.BuildPath(folder, "again.txt")
n = Err.Number : d = Err.Description
On Error GoTo 0
CheckEq Hex(n), "80040207", "MoveTo a second time"
Check InStr(d, moved) > 0, "the refusal names where the file went: " & d
host.End up
Set up = Nothing
CheckEq FileText(moved), "moved data", "a moved file outlives the upload object"
fso.DeleteFolder folder, True
Check Not fso.FolderExists(folder), "the saved files are removed"

' ReadChunkBytes: the same Form and file contents, whatever the chunk size,
' from a host whose BinaryRead goes on where the last one stopped.
Dim chunkBody : chunkBody = Part(kB, "t", Null, "text with --" & kB & " inside") _
    & Part(kB, "f", "one.txt", "line 1" & vbCrLf & "line 2" & vbCr & "--" & kB) _
    & Part(kB, "f", "two.txt", String(5000, "y")) & Part(kB, "t", Null, "") & "--" & kB & "--" & vbCrLf
Dim expected, seen
For Each row In Array(0, 1, 7, 4096)
    NewPage kMultipart, chunkBody
    host.SetReadShape "Stream"
    up.ReadChunkBytes = row
    CheckEq up.ReadChunkBytes, row, "ReadChunkBytes reads back"
    up.ProcessPostData
    seen = up.Form() & "|" & up.Files.Count
    For i = 1 To up.Files.Count
        seen = seen & "|" & FileText(up.Files(i).TmpPath)
    Next
    If row = 0 Then expected = seen Else CheckEq seen, expected, "ReadChunkBytes " & row
    host.End up
Next
Set up = Nothing
CheckEq host.LiveObjects, 0, "all host references released"
