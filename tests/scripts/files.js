// What a JScript page sees of uploaded files: Files by name and position,
// UserPath, TmpPath and Size, and the temporary files' bytes read back.
// Prints SCRIPT-OK as its last line when every check passed.

var fso = new ActiveXObject("Scripting.FileSystemObject");

function fileText(path, size) {
    var stream = fso.OpenTextFile(path, 1);
    var text = size > 0 ? stream.Read(size) : "";
    stream.Close();
    return text;
}

function part(boundary, name, fileName, data) {
    var header = "Content-Disposition: form-data; name=\"" + name + "\"";
    if (fileName !== null) header += "; filename=\"" + fileName + "\"";
    return "--" + boundary + "\r\n" + header + "\r\n\r\n" + data + "\r\n";
}

var data1 = "alpha\r\nbeta\r\n--not-the-boundary\r";
var body = part("JsB", "who", null, "ann")
         + part("JsB", "upload", "D:\\docs\\a.txt", data1)
         + part("JsB", "upload", "b.txt", "bravo")
         + "--JsB--\r\n";

var host = new ActiveXObject("QORTest.PageHost");
host.SetContentType("multipart/form-data; boundary=JsB");
host.SetBody(body);
var up = new ActiveXObject("Tandervale.QORUpload");
host.Start(up);
up.ProcessPostData();

var files = up.Files;
eq(files.Count, 2, "Files.Count");
eq(files.Key(1), "upload", "Files.Key(1)");
eq(files.Key(2), "upload", "Files.Key(2)");
eq(listed(files), "upload|upload", "Enumerator over Files");
var a = files.Item("upload"), b = files.Item(2);
eq(a.UserPath, "D:\\docs\\a.txt", "UserPath of the first file");
eq(a.Size, data1.length, "Size of the first file");
eq(b.UserPath, "b.txt", "UserPath of the second file");
eq(b.Size, 5, "Size of the second file");
eq(fileText(a.TmpPath, a.Size), data1, "the first file's bytes");
eq(fileText(b.TmpPath, b.Size), "bravo", "the second file's bytes");
eq(fso.GetFile(a.TmpPath).Size, data1.length, "the first file's length on disk");
eq(up.Form.Item("upload").Item(), "D:\\docs\\a.txt,b.txt", "the file names as values");
eq(up.Form.Item("who").Item(1), "ann", "the text part");
eq(files.Item("who"), undefined, "a text field is not a file");

host.End(up);
check(fso.FileExists(a.TmpPath), "OnEndPage keeps the temporary files");

// Releasing the component deletes them; file infos the page holds still answer.
var paths = [a.TmpPath, b.TmpPath];
up = null;
CollectGarbage();
check(!fso.FileExists(paths[0]) && !fso.FileExists(paths[1]), "the released component's files are gone");
eq(a.TmpPath, paths[0], "a held file info still names its file");
eq(files.Count, 2, "a held Files object still answers");
eq(host.LiveObjects, 0, "all host references released");
