' How the request's content type and the body's bytes reach a page script:
' which content types are parsed, what an odd content type does, and how bytes
' above 127 come out of the ANSI code page.
' Prints SCRIPT-OK as its last line when every check passed.

Dim host, up, text, n, d, c

' Parses the body under the content type; returns the whole form as text.
Function Parsed(contentType, body)
    Set host = CreateObject("QORTest.PageHost")
    host.SetContentType contentType
    host.SetBody body
    Set up = CreateObject("Tandervale.QORUpload")
    host.Start up
    up.ProcessPostData
    Parsed = up.Form()
    host.End up
End Function

Dim multipart
multipart = "--b" & vbCrLf & "Content-Disposition: form-data; name=""m""" & vbCrLf & vbCrLf & "1" & vbCrLf & "--b--" & vbCrLf

' Recognised: the exact media type, blanks and commas around it trimmed.
CheckEq Parsed("application/x-www-form-urlencoded", "a=1"), "a=1", "URL-encoded"
CheckEq Parsed(" " & vbTab & "application/x-www-form-urlencoded ,", "a=1"), "a=1", "URL-encoded with blanks around"
CheckEq Parsed("multipart/form-data; boundary=b", multipart), "m=1", "multipart"
CheckEq Parsed("multipart/form-data; boundary = ""b""", multipart), "m=1", "a quoted boundary with spaces"

' Anything else parses nothing and is no failure; Form then gives the empty
' text and an empty field for every name.
For Each c In Array("application/x-www-form-urlencoded; charset=UTF-8", "Application/x-www-form-urlencoded", _
                    "multipart/form-data; charset=x; boundary=b", "Multipart/form-data; boundary=b", _
                    "multipart/form-data", "text/plain", "")
    CheckEq Parsed(c, "a=1"), "", "content type [" & c & "]"
    CheckEq up.Form.Count, 0, "content type [" & c & "]: no fields"
    CheckEq up.Form("a").Count, 0, "content type [" & c & "]: an empty field"
Next

' No content type at all, or one that is a number: read as text.
CheckEq Parsed(Empty, "a=1"), "", "no content type"
CheckEq Parsed(42, "a=1"), "", "a number as content type"

' A content type that cannot be read as text is a failure of ProcessPostData,
' described by the component; Form keeps what it had.
Set host = CreateObject("QORTest.PageHost")
host.SetContentType "application/x-www-form-urlencoded"
host.SetBody "kept=1"
Set up = CreateObject("Tandervale.QORUpload")
host.Start up
up.ProcessPostData
host.SetContentType Null
On Error Resume Next
up.ProcessPostData
n = Err.Number : d = Err.Description : c = Err.Source
On Error GoTo 0
CheckEq Hex(n), "80020005", "a Null content type fails as a type mismatch"
Check Len(d) > 0, "and the failure is described"
CheckEq c, "Tandervale.QORUpload.2", "by the component"
text = up.Form()
CheckEq text, "kept=1", "Form keeps what it had"
host.End up
Set up = Nothing
CheckEq host.LiveObjects, 0, "every host reference released"

' Bytes above 127 become characters of the ANSI code page (1252 here).
CheckEq Parsed("application/x-www-form-urlencoded", "v=caf" & Chr(233)), "v=caf" & Chr(233), "an ANSI byte"
CheckEq Parsed("application/x-www-form-urlencoded", "v=%E9%80"), "v=" & Chr(233) & Chr(128), "escaped bytes"
Set host = CreateObject("QORTest.PageHost")
host.SetContentType "application/x-www-form-urlencoded"
host.SetBody "v=caf" & Chr(233), 65001
Set up = CreateObject("Tandervale.QORUpload")
host.Start up
up.ProcessPostData
CheckEq up.Form("v")(1), "caf" & Chr(195) & Chr(169), "UTF-8 bytes read in code page 1252"
host.End up
