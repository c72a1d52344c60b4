' What a page script sees of uploaded files: Files by name and position, its
' keys, For Each over Files, UserPath, TmpPath and Size, the temporary files'
' bytes read from the script, and how long those files live.
' Prints SCRIPT-OK as its last line when every check passed.

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")

' The bytes of a file, read as the ANSI text they are.
Function FileText(path, size)
    Dim stream
    Set stream = fso.OpenTextFile(path, 1)
    If size > 0 Then FileText = stream.Read(size) Else FileText = ""
    stream.Close
End Function

Dim host, up, files, body, first, second, blank, text, paths, kBoundary, kFirstData
kBoundary = "----QorScriptBoundary42"
kFirstData = "line 1" & vbCrLf & "line 2, with --dashes"

body = Part(kBoundary, "title", Null, "Report") _
     & Part(kBoundary, "doc", "C:\Users\ann\report.txt", kFirstData) _
     & Part(kBoundary, "doc", "notes.txt", "second file") _
     & Part(kBoundary, "empty", "empty.dat", "") _
     & Part(kBoundary, "skipped", "", "a file input left blank") _
     & Part(kBoundary, "title", Null, "Second") _
     & "--" & kBoundary & "--" & vbCrLf

Set host = CreateObject("QORTest.PageHost")
host.SetContentType "multipart/form-data; boundary=" & kBoundary
host.SetBody body
Set up = CreateObject("Tandervale.QORUpload")
host.Start up
up.ProcessPostData

Set files = up.Files
CheckEq files.Count, 3, "Files.Count"
CheckEq files.Key(1), "doc", "Files.Key(1)"
CheckEq files.Key(2), "doc", "Files.Key(2): one entry per file under a shared name"
CheckEq files.Key(3), "empty", "Files.Key(3)"
CheckEq Listed(up.Files), "doc|doc|empty", "For Each over Files"

' By name the first file of a shared name, by position each.
Set first = up.Files("doc")
Set second = up.Files(2)
Check first Is up.Files(1), "Files(""doc"") is the first file"
CheckEq first.UserPath, "C:\Users\ann\report.txt", "UserPath keeps the browser's directory"
CheckEq first.Size, Len(kFirstData), "Size of the first file"
CheckEq second.UserPath, "notes.txt", "UserPath of the second file"
CheckEq second.Size, 11, "Size of the second file"
Check IsEmpty(up.Files("skipped")), "a blank file input gives no file"
Check IsEmpty(up.Files("title")), "a text field is not a file"
Check IsEmpty(up.Files(4)), "position Count + 1 gives Empty"

' The file names are values of their fields too, in body order.
text = up.Form("doc")
CheckEq text, "C:\Users\ann\report.txt,notes.txt", "Form(""doc"") holds the file names"
text = up.Form("title")
CheckEq text, "Report,Second", "text parts around the files"
CheckEq up.Form("skipped").Count, 0, "a blank file input adds no value"
CheckEq Listed(up.Form), "title|doc|empty", "Form names in order of first appearance"

' The temporary files hold exactly the data of their parts.
CheckEq first.TmpPath, first.TmpPath, "TmpPath reads the same twice"
Check first.TmpPath <> second.TmpPath, "each file has its own temporary file"
Check fso.FileExists(first.TmpPath), "the first temporary file exists"
CheckEq fso.GetFile(first.TmpPath).Size, Len(kFirstData), "the first file's length on disk"
CheckEq FileText(first.TmpPath, first.Size), kFirstData, "the first file's bytes"
CheckEq FileText(second.TmpPath, second.Size), "second file", "the second file's bytes"
Set blank = up.Files("empty")
CheckEq blank.Size, 0, "an empty file part has Size 0"
Check fso.FileExists(blank.TmpPath), "an empty file part still has its file"
CheckEq fso.GetFile(blank.TmpPath).Size, 0, "and that file is empty"

' OnEndPage keeps the files; releasing the component deletes them, even while
' the script still holds Files and a file info.
paths = Array(first.TmpPath, second.TmpPath, blank.TmpPath)
host.End up
Check fso.FileExists(paths(0)), "OnEndPage keeps the temporary files"
Set up = Nothing
Check Not fso.FileExists(paths(0)), "releasing the component deletes the first file"
Check Not fso.FileExists(paths(1)), "releasing the component deletes the second file"
Check Not fso.FileExists(paths(2)), "releasing the component deletes the empty file"
CheckEq files.Count, 3, "a Files object the script holds still answers"
CheckEq first.TmpPath, paths(0), "a held file info still names its deleted file"
CheckEq first.UserPath, "C:\Users\ann\report.txt", "a held file info keeps its UserPath"
CheckEq host.LiveObjects, 0, "all host references released"
