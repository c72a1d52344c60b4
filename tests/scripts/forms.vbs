' What a page script sees of the posted text fields: Form by name, by
' position, as text, its keys, and For Each over Form and over a field.
' Prints SCRIPT-OK as its last line when every check passed.

Dim host, up, form, field, missing, text, name

Set host = CreateObject("QORTest.PageHost")
host.SetContentType "application/x-www-form-urlencoded"
host.SetBody "a=1&b=2&a=3&c=x%2Cy&c=z&2=two&=blank&e="
Set up = CreateObject("Tandervale.QORUpload")
host.Start up
up.ProcessPostData

Set form = up.Form
CheckEq form.Count, 6, "Form.Count"
text = up.Form()
CheckEq text, "a=1,3;b=2;c=x,y,z;2=two;=blank;e=", "Form() as text"

' A field by name: its values by position, their number, and the field as text.
CheckEq up.Form("a")(1), "1", "Form(""a"")(1)"
CheckEq up.Form("a")(2), "3", "Form(""a"")(2)"
CheckEq up.Form("a").Count, 2, "Form(""a"").Count"
text = up.Form("a")
CheckEq text, "1,3", "Form(""a"") as text"
CheckEq up.Form("a")("2"), "3", "a numeric string is a position in a field"
text = up.Form("c")
CheckEq text, "x,y,z", "a value holding a comma joins unmarked"
CheckEq up.Form("c")(1), "x,y", "the value itself keeps its comma"
text = up.Form("e")
CheckEq text, "", "an empty value"
CheckEq up.Form("e").Count, 1, "an empty value still counts"
CheckEq up.Form("")(1), "blank", "the empty name is an ordinary key"

' Keys win over positions: "2" is a field name, 2 the second field.
CheckEq up.Form("2")(1), "two", "Form(""2"")"
CheckEq up.Form(2)(1), "2", "Form(2) is the second field"
name = "b"
CheckEq up.Form(name)(1), "2", "a key passed in a variable"

' Names are case-sensitive; every missing name gives the same empty field.
Set missing = up.Form("A")
CheckEq missing.Count, 0, "Form(""A"").Count"
text = missing
CheckEq text, "", "a missing field as text"
Check missing Is up.Form("nothing-here"), "one empty field for every missing name"
Check up.Form(0) Is missing, "position 0 is missing"
Check up.Form(7) Is missing, "position Count + 1 is missing"
Check up.Form(-1) Is missing, "position -1 is missing"

' Key by position; anything else gives Empty.
CheckEq form.Key(1), "a", "Key(1)"
CheckEq form.Key(4), "2", "Key(4)"
CheckEq form.Key(5), "", "Key(5) is the empty name"
Check IsEmpty(form.Key(0)), "Key(0) is Empty"
Check IsEmpty(form.Key(7)), "Key(Count + 1) is Empty"
Check IsEmpty(form.Key("a")), "Key does not search by name"

' For Each over Form gives the names in posted order, over a field its values.
CheckEq Listed(up.Form), "a|b|c|2||e", "For Each over Form"
CheckEq Listed(up.Form("a")), "1|3", "For Each over a field"
CheckEq Listed(missing), "", "For Each over a missing field"
Dim count : count = 0
For Each name In up.Form
    count = count + up.Form(name).Count
Next
CheckEq count, 8, "values reached through the enumerated names"

' Positions outside a field are an error of the field, not a value.
' No error information comes with them: the result code alone.
Dim n, d
On Error Resume Next
text = up.Form("a")(3)
n = Err.Number : d = Err.Description
On Error GoTo 0
CheckEq Hex(n), "80070057", "Form(""a"")(3)"
CheckEq d, "", "Form(""a"")(3) sets no description"
On Error Resume Next
text = up.Form("a")("x")
n = Err.Number
On Error GoTo 0
CheckEq Hex(n), "80070057", "a field has no lookup by text"
On Error Resume Next
text = up.Form.Key()
n = Err.Number
On Error GoTo 0
Check n <> 0, "Key needs its argument"

' Form and Files are the same objects every time.
Check up.Form Is form, "Form is one object"
Check up.Files Is up.Files, "Files is one object"
CheckEq up.Files.Count, 0, "a URL-encoded body has no files"
Check IsEmpty(up.Files("a")), "Files(name) without a file is Empty"

host.End up
