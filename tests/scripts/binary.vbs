' A file part that carries every byte value and near-delimiters, read from a
' body file: the temporary file must hold exactly the part's data.
' Prints SCRIPT-OK as its last line when every check passed.

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim host, up, blob, stream, data, i, wrong, tail

' all-bytes.body (boundary qor-boundary): a text field "note" = "bytes", then
' the file "blob" (all-bytes.bin) whose data is the bytes 0 to 255, then
' CR LF "--qor-bound", CR LF "--qor-boundary!", CR LF "--qor-boundary-x" and CR.
Set host = CreateObject("QORTest.PageHost")
host.SetContentType "multipart/form-data; boundary=qor-boundary"
host.SetBodyFromFile WScript.Arguments(0) & "\all-bytes.body"
Set up = CreateObject("Tandervale.QORUpload")
host.Start up
up.ProcessPostData

CheckEq up.Form("note")(1), "bytes", "the text part before the file"
CheckEq up.Form("blob")(1), "all-bytes.bin", "the file name as a value"
Set blob = up.Files("blob")
CheckEq blob.UserPath, "all-bytes.bin", "UserPath"
CheckEq blob.Size, 305, "Size"
CheckEq fso.GetFile(blob.TmpPath).Size, 305, "length on disk"

Set stream = fso.OpenTextFile(blob.TmpPath, 1)
data = stream.Read(305)
stream.Close
CheckEq Len(data), 305, "bytes read back"
wrong = 0
For i = 0 To 255
    If Asc(Mid(data, i + 1, 1)) <> i Then
        If wrong = 0 Then WScript.Echo "byte " & i & " reads as " & Asc(Mid(data, i + 1, 1))
        wrong = wrong + 1
    End If
Next
CheckEq wrong, 0, "bytes 0 to 255 stored unchanged"
tail = vbCrLf & "--qor-bound" & vbCrLf & "--qor-boundary!" & vbCrLf & "--qor-boundary-x" & vbCr
CheckEq Mid(data, 257), tail, "near-delimiters and the final CR stored unchanged"

host.End up
Set up = Nothing
