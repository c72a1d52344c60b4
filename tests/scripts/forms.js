// What a JScript page sees of the posted text fields: Form through Item and
// the default member, Count, Key, the whole form as text, and Enumerator over
// Form and over a field, whose snapshot outlives a later ProcessPostData.
// Prints SCRIPT-OK as its last line when every check passed.

var host = new ActiveXObject("QORTest.PageHost");
host.SetContentType("application/x-www-form-urlencoded");
host.SetBody("a=1&b=2&a=3&2=two");
var up = new ActiveXObject("Tandervale.QORUpload.2");
host.Start(up);
up.ProcessPostData();

var form = up.Form;
eq(form.Count, 3, "Form.Count");
eq(form.Item(), "a=1,3;b=2;2=two", "Form.Item() is the whole form");
eq(form.Item("a").Item(1), "1", "Form.Item(\"a\").Item(1)");
eq(form.Item("a").Item(2), "3", "Form.Item(\"a\").Item(2)");
eq(form.Item("a").Count, 2, "Form.Item(\"a\").Count");
eq(form.Item("a").Item(), "1,3", "a field's Item() joins its values");
eq(up.Form("a").Item(2), "3", "up.Form(\"a\") through the default member");
eq(up.Form("a")(1), "1", "up.Form(\"a\")(1)");
eq(form.Item("2").Item(1), "two", "a key wins over a position");
eq(form.Item(2).Item(1), "2", "a number is a position");
eq(form.Key(1), "a", "Key(1)");
eq(form.Key(3), "2", "Key(3)");
eq(form.Key(4), undefined, "Key(Count + 1) is empty");
eq(form.Item("A").Count, 0, "names are case-sensitive");
eq(up.Files.Count, 0, "no files");
eq(up.Files.Item("a"), undefined, "Files without that file is empty");

eq(listed(form), "a|b|2", "Enumerator over Form");
eq(listed(form.Item("a")), "1|3", "Enumerator over a field");

// Positions outside a field are errors of the field.
var e3 = thrown(function () { form.Item("a").Item(3); });
check(e3 !== null && (e3.number >>> 0) == 0x80070057, "Item(3) of a two-value field");
var e0 = thrown(function () { form.Item("a").Item(0); });
check(e0 !== null && (e0.number >>> 0) == 0x80070057, "Item(0) of a field");

// An enumerator works on a snapshot: a later parse does not change it.
var keys = new Enumerator(form);
var field = form.Item("a");
host.SetBody("c=4&a=5");
up.ProcessPostData();
var seen = [];
for (; !keys.atEnd(); keys.moveNext()) seen.push(keys.item());
eq(seen.join("|"), "a|b|2", "an enumerator keeps the keys it started with");
eq(listed(form), "a|b|2|c", "a new enumerator sees the merged form");
eq(field.Item(), "1,3", "a field taken earlier keeps its values");
eq(form.Item("a").Item(), "1,3,5", "the merged field");
check(up.Form === form || up.Form == form, "Form is one object");

host.End(up);
up = null;
