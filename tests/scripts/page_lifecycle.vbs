' Creation by both ProgIDs, the page states, and every failure a page script
' can meet, as Err.Number, Err.Description and Err.Source show it.
' Prints SCRIPT-OK as its last line when every check passed.

' A failure that the component reported itself.
Sub CheckFailure(number, description, source, expectedNumber, expectedDescription, what)
    CheckEq Hex(number), Hex(expectedNumber), what & ": Err.Number"
    CheckEq description, expectedDescription, what & ": Err.Description"
    CheckEq source, "Tandervale.QORUpload.2", what & ": Err.Source"
End Sub

Dim host, up, other, text, n, d, s, c

Set host = CreateObject("QORTest.PageHost")
host.SetContentType "application/x-www-form-urlencoded"
host.SetBody "a=1&b=2&a=3"

' Both ProgIDs create the component; every creation is a new object.
Set up = CreateObject("Tandervale.QORUpload")
Set other = CreateObject("Tandervale.QORUpload.2")
Check Not (up Is other), "two creations give two objects"
CheckEq TypeName(other), TypeName(up), "one class behind both ProgIDs"

' Before the first ProcessPostData: empty results, and a missing name is Empty.
CheckEq up.Form.Count, 0, "Form.Count before ProcessPostData"
text = up.Form()
CheckEq text, "", "Form() before ProcessPostData"
Check IsEmpty(up.Form("a")), "Form(name) before ProcessPostData is Empty"
CheckEq up.Files.Count, 0, "Files.Count before ProcessPostData"

' ProcessPostData needs a started page.
On Error Resume Next
up.ProcessPostData
n = Err.Number : d = Err.Description : s = Err.Source
On Error GoTo 0
CheckFailure n, d, s, &H80020009, "Function OnStartPage call missed", "before OnStartPage"

host.Start up
CheckEq host.LiveObjects, 1, "the component keeps the Request, not the scripting context"
up.ProcessPostData
CheckEq up.Form.Count, 2, "Form.Count after ProcessPostData"
text = up.Form()
CheckEq text, "a=1,3;b=2", "Form() after ProcessPostData"
host.End up
CheckEq host.LiveObjects, 0, "OnEndPage releases the Request"

' After OnEndPage: the same failure, and the results stay as they were.
On Error Resume Next
up.ProcessPostData
n = Err.Number : d = Err.Description : s = Err.Source
On Error GoTo 0
CheckFailure n, d, s, &H80020009, "Function OnStartPage call missed", "after OnEndPage"
CheckEq up.Form("a")(2), "3", "Form after a failed ProcessPostData"

' A script may act as the page host itself and pass a context object.
other.OnStartPage host.NewContext()
other.ProcessPostData
CheckEq other.Form("b")(1), "2", "OnStartPage called by the script"
On Error Resume Next
other.OnStartPage Nothing
n = Err.Number : d = Err.Description
On Error GoTo 0
CheckEq Hex(n), "80004003", "OnStartPage Nothing"
CheckEq d, "", "OnStartPage Nothing sets no error information"
other.ProcessPostData
CheckEq other.Form("b")(1), "2", "a refused OnStartPage leaves the started page as it was"
other.OnEndPage
Set other = Nothing

' Each failing host call of ProcessPostData reaches the script with its own
' description and the host's result code; nothing changes in Form or Files,
' and every host reference obtained in the call is released.
' The host calls follow one another in this order; a failing one is the last.
Dim steps, i, j
steps = Array(Array("GetServerVariables", "Can't obtain server variables"), _
              Array("GetItem", "Can't obtain content-type"), _
              Array("GetTotalBytes", "Can't obtain total bytes"), _
              Array("BinaryRead", "Can't call BinaryRead"))
For i = 0 To UBound(steps)
    c = steps(i)
    Set host = CreateObject("QORTest.PageHost")
    host.SetContentType "application/x-www-form-urlencoded"
    host.SetBody "x=1"
    Set up = CreateObject("Tandervale.QORUpload")
    host.Start up
    up.ProcessPostData
    host.SetBody "y=2"
    host.FailStep c(0), &H80040201
    On Error Resume Next
    up.ProcessPostData
    n = Err.Number : d = Err.Description : s = Err.Source
    On Error GoTo 0
    CheckFailure n, d, s, &H80040201, c(1), c(0)
    CheckEq up.Form.Count, 1, c(0) & ": Form unchanged"
    CheckEq up.Form.Key(1), "x", c(0) & ": Form unchanged"
    CheckEq host.LiveObjects, 1, c(0) & ": only the Request is still held"
    For j = 0 To UBound(steps)
        If j <= i Then
            CheckEq host.Calls(steps(j)(0)), 2, c(0) & ": " & steps(j)(0) & " called again"
        Else
            CheckEq host.Calls(steps(j)(0)), 1, c(0) & ": " & steps(j)(0) & " not called after the failure"
        End If
    Next
    host.End up
    Set up = Nothing
    CheckEq host.LiveObjects, 0, c(0) & ": every host reference released"
Next

' Failures of OnStartPage, passed on by the page host.
For Each c In Array(Array("QueryScriptingContext", "Can't obtain ScriptingContext", &H80004002), _
                    Array("GetRequest", "Can't obtain Request object", &H80040202))
    Set host = CreateObject("QORTest.PageHost")
    Set up = CreateObject("Tandervale.QORUpload")
    host.FailStep c(0), c(2)
    On Error Resume Next
    host.Start up
    n = Err.Number : d = Err.Description : s = Err.Source
    On Error GoTo 0
    CheckFailure n, d, s, c(2), c(1), c(0)
    On Error Resume Next
    up.ProcessPostData
    n = Err.Number : d = Err.Description : s = Err.Source
    On Error GoTo 0
    CheckFailure n, d, s, &H80020009, "Function OnStartPage call missed", c(0) & ": the page did not start"
    Set up = Nothing
    CheckEq host.LiveObjects, 0, c(0) & ": no host reference kept"
Next

' BinaryRead that answers with something other than bytes.
Set host = CreateObject("QORTest.PageHost")
host.SetContentType "application/x-www-form-urlencoded"
host.SetBody "a=1"
host.SetReadShape "NonByteArray"
Set up = CreateObject("Tandervale.QORUpload")
host.Start up
On Error Resume Next
up.ProcessPostData
n = Err.Number : d = Err.Description : s = Err.Source
On Error GoTo 0
CheckFailure n, d, s, &H80020005, "Can't call BinaryRead", "BinaryRead without a byte array"
CheckEq up.Form.Count, 0, "nothing parsed from a non-byte answer"

' A short answer is parsed as far as it goes; TotalBytes 0 is an empty body.
host.SetBody "a=1&b=2"
host.SetReadShape "ShortByteArray", 3
up.ProcessPostData
CheckEq up.Form.Count, 1, "short BinaryRead: fields"
CheckEq up.Form("a")(1), "1", "short BinaryRead: value"
host.SetReadShape "ByteArray"
host.SetTotalBytes 0
up.ProcessPostData
CheckEq up.Form.Count, 1, "TotalBytes 0 adds nothing"
host.End up
Set up = Nothing
CheckEq host.LiveObjects, 0, "all host references released"
