' Upload progress as pages use it: the progress class's NewId and Query, the
' IDs either side refuses, and a record read live by a second script host
' process while this one posts a body in slow chunks through the page host.
' Prints SCRIPT-OK as its last line when every check passed.

Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim shell : Set shell = CreateObject("WScript.Shell")
Const E_INVALIDARG = &H80070057
Dim progress : Set progress = CreateObject("Tandervale.QORUploadProgress")
Dim host, up, n, d, i, id, seen, info

' NewId: 32 characters of lower-case hexadecimal, never the same twice.
Set seen = CreateObject("Scripting.Dictionary")
Dim repeats, malformed : repeats = 0 : malformed = 0
Dim hexId : Set hexId = New RegExp
hexId.Pattern = "^[0-9a-f]{32}$"
For i = 1 To 10000
    id = progress.NewId()
    If Not hexId.Test(id) Then malformed = malformed + 1
    If seen.Exists(id) Then repeats = repeats + 1 Else seen.Add id, True
Next
CheckEq malformed, 0, "IDs that are not 32 hexadecimal digits"
CheckEq repeats, 0, "repeated IDs in 10,000"
CheckEq TypeName(CreateObject("Tandervale.QORUploadProgress.1")), "IQORUploadProgress", "the versioned ProgID"

' An ID nobody publishes answers "unknown" with zeros.
Set info = progress.Query(progress.NewId())
CheckEq info.State, "unknown", "unknown ID's state"
CheckEq info.BytesReceived + info.TotalBytes + info.FilesStored + info.PercentComplete + info.ErrorNumber, 0, "unknown ID's numbers"
CheckEq info.FileName & info.ErrorDescription, "", "unknown ID's texts"
CheckEq TypeName(info), "IQORProgressInfo", "TypeName of a reading"

' Refused on both sides: too short, too long, another namespace, a path, a
' NUL, a blank, nothing (Query only).
Set host = CreateObject("QORTest.PageHost")
Set up = CreateObject("Tandervale.QORUpload")
CheckEq up.ProgressId, "", "ProgressId by default"
Dim refused : refused = Array("0123456789abcde", String(65, "a"), "Global\0123456789abcdef", _
    "..\..\0123456789abcdef", "0123456789abcdef" & Chr(0) & "x", "0123456789 abcdef")
For Each id In refused
    On Error Resume Next
    up.ProgressId = id
    n = Err.Number : d = Err.Description
    Err.Clear
    Set info = progress.Query(id)
    CheckEq Err.Number, E_INVALIDARG, "Query(" & id & ")"
    On Error GoTo 0
    CheckEq n, E_INVALIDARG, "ProgressId = " & id
    Check InStr(d, "ProgressId") > 0, "the refusal names ProgressId: " & d
Next
On Error Resume Next
Set info = progress.Query("")
CheckEq Err.Number, E_INVALIDARG, "Query of nothing"
On Error GoTo 0
up.ProgressId = String(64, "Z")
CheckEq up.ProgressId, String(64, "Z"), "the longest ID"

' Live: a second process polls Query while this one posts about 1.3 MB in
' 64 KiB chunks (ReadChunkBytes 0), each read of the host 60 ms late.
Dim folder : folder = fso.BuildPath(fso.GetSpecialFolder(2), "qor-progress-" & fso.GetTempName())
fso.CreateFolder folder
Dim readerPath : readerPath = fso.BuildPath(folder, "reader.vbs")
Dim resultPath : resultPath = fso.BuildPath(folder, "result.txt")
Dim readyPath : readyPath = fso.BuildPath(folder, "ready.txt")
Dim reader : Set reader = fso.CreateTextFile(readerPath, True)
reader.Write _
    "Dim fso, p, host, info, id, out, last, started, t" & vbCrLf & _
    "Set host = CreateObject(""QORTest.PageHost"")" & vbCrLf & _
    "Set fso = CreateObject(""Scripting.FileSystemObject"")" & vbCrLf & _
    "Set p = CreateObject(""Tandervale.QORUploadProgress"")" & vbCrLf & _
    "id = WScript.Arguments(0) : out = """" : last = -1 : started = Timer" & vbCrLf & _
    "fso.CreateTextFile(WScript.Arguments(2), True).Close" & vbCrLf & _
    "Do" & vbCrLf & _
    "    Set info = p.Query(id)" & vbCrLf & _
    "    If info.State = ""receiving"" And info.BytesReceived <> last Then" & vbCrLf & _
    "        last = info.BytesReceived : out = out & last & "" """ & vbCrLf & _
    "    End If" & vbCrLf & _
    "    If info.State = ""done"" Or info.State = ""failed"" Then Exit Do" & vbCrLf & _
    "    t = Timer - started : If t < 0 Then t = t + 86400" & vbCrLf & _
    "    If t > 60 Then Exit Do" & vbCrLf & _
    "    host.Pause 5" & vbCrLf & _
    "Loop" & vbCrLf & _
    "Set t = fso.CreateTextFile(WScript.Arguments(1), True)" & vbCrLf & _
    "t.WriteLine out" & vbCrLf & _
    "t.WriteLine info.State & "" "" & info.BytesReceived & "" "" & info.TotalBytes & "" "" & info.FilesStored & "" "" & info.FileName" & vbCrLf & _
    "t.WriteLine info.Json" & vbCrLf & _
    "t.Close" & vbCrLf
reader.Close

id = progress.NewId()
Dim body : body = Part("Live", "a", "first.bin", String(700000, "x")) & Part("Live", "b", "second.bin", String(600000, "y")) & "--Live--" & vbCrLf
Set host = CreateObject("QORTest.PageHost")
Set up = CreateObject("Tandervale.QORUpload")
host.SetContentType "multipart/form-data; boundary=Live"
host.SetBody body
host.SetReadShape "Stream"
host.SetReadDelay 60
host.Start up
up.ProgressId = id
Dim exec : Set exec = shell.Exec("cscript //nologo """ & readerPath & """ " & id & " """ & resultPath & """ """ & readyPath & """")
Dim waited : waited = 0
Do While Not fso.FileExists(readyPath) And waited < 60000 And exec.Status = 0
    host.Pause 20 : waited = waited + 20
Loop
Check fso.FileExists(readyPath), "the reader started"
up.ProcessPostData
CheckEq host.Calls("BinaryRead"), (Len(body) + 65535) \ 65536, "64 KiB reads with a progress ID"
waited = 0
Do While exec.Status = 0 And waited < 60000
    host.Pause 20 : waited = waited + 20
Loop
Dim lines : lines = Split(fso.OpenTextFile(resultPath).ReadAll, vbCrLf)
Dim values : values = Split(Trim(lines(0)), " ")
Check UBound(values) + 1 >= 5, "at least five readings while receiving: " & lines(0)
Dim rising : rising = True
For i = 1 To UBound(values)
    If CLng(values(i)) <= CLng(values(i - 1)) Then rising = False
Next
Check rising, "bytes rise from reading to reading: " & lines(0)
CheckEq lines(1), "done " & Len(body) & " " & Len(body) & " 2 second.bin", "the reader's last reading"
Check InStr(lines(2), "{""state"":""done"",""bytesReceived"":" & Len(body) & ",") = 1, "the Json: " & lines(2)
CheckEq up.Files.Count, 2, "files stored"
CheckEq progress.Query(id).State, "done", "read in this process too"
Set up = Nothing
CheckEq progress.Query(id).State, "unknown", "the record goes with the upload object"
fso.DeleteFolder folder, True
