' Several ProcessPostData calls on one component: later bodies merge into the
' same fields, files accumulate with their temporary files, and objects the
' script took earlier keep what they held.
' Prints SCRIPT-OK as its last line when every check passed.

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim host, up, form, files, oldA, oldMissing, firstPath, text

Set host = CreateObject("QORTest.PageHost")
Set up = CreateObject("Tandervale.QORUpload")
Set form = up.Form
Set files = up.Files
host.SetContentType "application/x-www-form-urlencoded"
host.SetBody "a=1&b=2"
host.Start up
up.ProcessPostData
Set oldA = up.Form("a")
Set oldMissing = up.Form("zz")

' A multipart body on the same page: a repeats, f is a file.
host.SetContentType "multipart/form-data; boundary=XyZ"
host.SetBody Part("XyZ", "a", Null, "3") & Part("XyZ", "f", "one.txt", "first") & "--XyZ--" & vbCrLf
up.ProcessPostData
Check up.Form Is form, "Form is the same object after a second parse"
Check up.Files Is files, "Files is the same object after a second parse"
text = form()
CheckEq text, "a=1,3;b=2;f=one.txt", "the whole form after the merge"
CheckEq form.Count, 3, "Form.Count after the merge"
CheckEq oldA.Count, 1, "a field taken earlier keeps its old values"
text = up.Form("a")
CheckEq text, "1,3", "the field now holds both values"
CheckEq files.Count, 1, "Files.Count after the first file"
firstPath = files(1).TmpPath
Check Not (up.Form("zz") Is oldMissing), "each parse has its own empty field"

' A third body with another file: earlier files and their temporary files stay.
host.SetBody Part("XyZ", "f", "two.txt", "second") & "--XyZ--" & vbCrLf
up.ProcessPostData
CheckEq files.Count, 2, "Files.Count after the second file"
CheckEq files(1).TmpPath, firstPath, "the first file keeps its temporary file"
CheckEq files(2).UserPath, "two.txt", "the new file comes after it"
Check fso.FileExists(firstPath), "the first temporary file is still there"
text = up.Form("f")
CheckEq text, "one.txt,two.txt", "both file names under f"

host.End up
Set up = Nothing
Check Not fso.FileExists(firstPath), "releasing the component deletes every file of every parse"
