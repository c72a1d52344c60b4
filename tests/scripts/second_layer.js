// The members a JScript page opts into, reached by name: CodePage, the limits
// and their result codes (e.number is the signed 32-bit code), ReadChunkBytes,
// and the file infos' FileName, ContentType and SaveAs. Saved copies go to a
// folder of the script's own in the temporary folder, removed at the end.
// Prints SCRIPT-OK as its last line when every check passed.

var fso = new ActiveXObject("Scripting.FileSystemObject");
var B = "QorSecondLayerJs";
var kUrl = "application/x-www-form-urlencoded";
var kMultipart = "multipart/form-data; boundary=" + B;
var kClosing = "--" + B + "--\r\n";
var host, up;

function part(name, fileName, data, contentType) {
    var header = "Content-Disposition: form-data; name=\"" + name + "\"";
    if (fileName !== null) header += "; filename=\"" + fileName + "\"\r\nContent-Type: " + (contentType || "text/plain");
    return "--" + B + "\r\n" + header + "\r\n\r\n" + data + "\r\n";
}

function fileText(path) {
    var stream = fso.OpenTextFile(path, 1);
    var text = stream.AtEndOfStream ? "" : stream.ReadAll();
    stream.Close();
    return text;
}

function newPage(contentType, body) {
    host = new ActiveXObject("QORTest.PageHost");
    up = new ActiveXObject("Tandervale.QORUpload");
    host.SetContentType(contentType);
    host.SetBody(body);
    host.Start(up);
}

// The signed number a thrown component error carries for code.
function code(hresult) { return hresult | 0; }

// CodePage: 0 and 1252 read UTF-8 bytes as ANSI characters, 65001 as UTF-8,
// in values and in file names; an unknown code page is refused.
var utf8Text = "\u00e9\u20ac", ansiText = "\u00c3\u00a9\u00e2\u201a\u00ac";
var pages = [[0, ansiText], [1252, ansiText], [65001, utf8Text]];
for (var i = 0; i < pages.length; i++) {
    newPage(kMultipart, "");
    host.SetBody(part("v", null, utf8Text) + part("f", utf8Text + ".txt", "x") + kClosing, 65001);
    up.CodePage = pages[i][0];
    eq(up.CodePage, pages[i][0], "CodePage reads back");
    up.ProcessPostData();
    eq(up.Form.Item("v").Item(1), pages[i][1], "a value in code page " + pages[i][0]);
    eq(up.Files.Item("f").FileName, pages[i][1] + ".txt", "a file name in code page " + pages[i][0]);
    host.End(up);
}
newPage(kUrl, "a=1");
var e = thrown(function () { up.CodePage = 12345; });
check(e !== null && e.number === code(0x80070057), "CodePage 12345: " + (e && e.number));
eq(e && e.description, "CodePage 12345 is not a code page installed on this system", "CodePage 12345: description");
eq(up.CodePage, 0, "a refused CodePage leaves it as it was");

// Each limit at exactly what the body holds passes; set one lower, the body
// is one past it and fails with the limit's own code, leaving Form and Files
// as the call before left them. Values of a URL-encoded body are no files.
var urlBody = "a=1&b=22&a=333";
var partsBody = part("a", null, "1") + part("f", "f.bin", "12345") + part("g", "g.txt", "ab") + kClosing;
var keptBody = part("kept", null, "1") + part("k", "k.txt", "kk") + kClosing;
var limits = [["MaxTotalBytes", false, urlBody.length, 0x80040201], ["MaxTotalBytes", true, partsBody.length, 0x80040201],
              ["MaxParts", false, 3, 0x80040204], ["MaxParts", true, 3, 0x80040204],
              ["MaxFiles", true, 2, 0x80040203], ["MaxFileBytes", true, 5, 0x80040202],
              ["MaxFiles", false, 1, 0], ["MaxFileBytes", false, 1, 0]];
for (var i = 0; i < limits.length; i++) {
    var row = limits[i];
    for (var past = 0; past <= 1; past++) {
        var what = row[0] + " " + (row[2] - past) + (row[1] ? " on a multipart body" : " on a URL-encoded body");
        newPage(kMultipart, keptBody);
        up.ProcessPostData();
        up[row[0]] = row[2] - past;
        eq(up[row[0]], row[2] - past, what + ": reads back");
        host.SetContentType(row[1] ? kMultipart : kUrl);
        host.SetBody(row[1] ? partsBody : urlBody);
        var e = thrown(function () { up.ProcessPostData(); });
        if (!past || !row[3]) {
            check(e === null, what + " passes: " + (e && e.description));
            eq(up.Form.Count, row[1] ? 5 : 4, what + ": Form grew");
        } else {
            check(e !== null && e.number === code(row[3]), what + " fails with its code: " + (e && e.number));
            check(e !== null && e.description.indexOf(row[0]) >= 0, what + ": description " + (e && e.description));
            eq(up.Form.Item(), "kept=1;k=k.txt", what + ": Form as before");
            eq(up.Files.Count, 1, what + ": Files as before");
            eq(up.Files.Item(1).UserPath, "k.txt", what + ": the file before");
        }
        host.End(up);
    }
}
e = thrown(function () { up.MaxParts = -1; });
check(e !== null && e.number === code(0x80070057), "MaxParts -1 is refused: " + (e && e.number));

// FileName is the last segment of what the browser sent; ContentType the
// part's type as sent.
var names = [["C:\\Users\\ann\\report.txt", "report.txt", "text/plain"],
             ["/home/ann/notes.md", "notes.md", "text/markdown; charset=utf-8"],
             ["C:\\Users\\ann\\", "", "application/octet-stream"],
             ["..", "", "image/png"]];
var body = "";
for (var i = 0; i < names.length; i++) body += part("f", names[i][0], "x", names[i][2]);
newPage(kMultipart, body + kClosing);
up.ProcessPostData();
eq(up.Files.Count, names.length, "one file per name");
for (var i = 0; i < names.length; i++) {
    var info = up.Files.Item(i + 1);
    eq(info.UserPath, names[i][0], "UserPath " + names[i][0]);
    eq(info.FileName, names[i][1], "FileName of " + names[i][0]);
    eq(info.ContentType, names[i][2], "ContentType of " + names[i][0]);
}
host.End(up);

// SaveAs copies the file; it replaces an existing one only when told to, and
// a refused save leaves nothing behind in the folder.
var folder = fso.BuildPath(fso.GetSpecialFolder(2), "qor-second-layer-" + fso.GetTempName());
fso.CreateFolder(folder);
var target = fso.BuildPath(folder, "saved.txt"), other = fso.BuildPath(folder, "other.txt");
var existing = fso.CreateTextFile(other, true);
existing.Write("old");
existing.Close();
newPage(kMultipart, part("f", "a.txt", "file data") + kClosing);
up.ProcessPostData();
var info = up.Files.Item("f");
// Each save: its arguments, the code it fails with (0: none; 0x80070000: any
// system error), the file that then holds what.
var saves = [[[target], 0, target, "file data"],
             [[other], 0x800700B7, other, "old"],
             [[other, false], 0x800700B7, other, "old"],
             [[other, true], 0, other, "file data"],
             [[fso.BuildPath(folder, "missing\\x.txt"), true], 0x80070000, target, "file data"],
             [[target, true], 0, target, "file data"]];
for (var i = 0; i < saves.length; i++) {
    var args = saves[i][0];
    e = thrown(function () { if (args.length == 1) info.SaveAs(args[0]); else info.SaveAs(args[0], args[1]); });
    var what = "SaveAs(" + args.join(", ") + ")";
    if (!saves[i][1]) check(e === null, what + ": " + (e && e.description));
    else if (saves[i][1] == 0x80070000) check(e !== null && (e.number & 0xFFFF0000) === code(0x80070000), what + " fails: " + (e && e.number));
    else check(e !== null && e.number === code(saves[i][1]), what + " fails: " + (e && e.number));
    if (saves[i][1]) check(e !== null && e.description.indexOf(args[0]) >= 0, what + ": the failure names the path");
    eq(fileText(saves[i][2]), saves[i][3], what + ": the file");
}
check(fso.FileExists(info.TmpPath), "the temporary file stays after SaveAs");
eq(fso.GetFolder(folder).Files.Count, 2, "only the saved files are in the folder");
host.End(up);
up = null;
CollectGarbage();
var late = fso.BuildPath(folder, "late.txt");
e = thrown(function () { info.SaveAs(late, true); });
check(e !== null && e.number === code(0x80040206), "SaveAs after the upload object is gone: " + (e && e.number));
check(!fso.FileExists(late), "nothing saved after the object is gone");
eq(info.FileName, "a.txt", "the file info still answers");
eq(fileText(target), "file data", "a saved copy outlives the upload object");
eq(fso.GetFolder(folder).Files.Count, 2, "no file left by a refused save");
fso.DeleteFolder(folder, true);
check(!fso.FolderExists(folder), "the saved files are removed");

// ReadChunkBytes: the same Form and file contents, whatever the chunk size,
// from a host whose BinaryRead goes on where the last one stopped.
var chunkBody = part("t", null, "text with --" + B + " inside") + part("f", "one.txt", "line 1\r\nline 2\r--" + B)
              + part("f", "two.txt", new Array(5001).join("y")) + part("t", null, "") + kClosing;
var chunks = [0, 1, 7, 4096], expected;
for (var i = 0; i < chunks.length; i++) {
    newPage(kMultipart, chunkBody);
    host.SetReadShape("Stream");
    up.ReadChunkBytes = chunks[i];
    eq(up.ReadChunkBytes, chunks[i], "ReadChunkBytes reads back");
    up.ProcessPostData();
    var seen = up.Form.Item() + "|" + up.Files.Count;
    for (var f = 1; f <= up.Files.Count; f++) seen += "|" + fileText(up.Files.Item(f).TmpPath);
    if (i == 0) expected = seen;
    else eq(seen, expected, "ReadChunkBytes " + chunks[i]);
    host.End(up);
}
up = null;
CollectGarbage();
eq(host.LiveObjects, 0, "all host references released");
