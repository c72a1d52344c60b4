<%@ Language="VBScript" CodePage=65001 %>
<% Option Explicit
Response.Charset = "utf-8"

' A new ID under which upload.asp publishes how far the upload has got, for
' progress.js to poll; "" where the progress class is not installed, and the
' form then posts to upload.asp without one.
Function NewProgressId()
    Dim progress
    NewProgressId = ""
    On Error Resume Next
    Set progress = Server.CreateObject("Tandervale.QORUploadProgress")
    If Err.Number = 0 Then NewProgressId = progress.NewId()
    If Err.Number <> 0 Then NewProgressId = ""
End Function

Dim progressId, action
progressId = NewProgressId()
action = "/upload.asp"
If progressId <> "" Then action = action & "?progress=" & Server.URLEncode(progressId) %>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>QORUpload sample: upload form</title>
<link rel="stylesheet" href="/style.css">
<% If progressId <> "" Then %><script src="/progress.js" defer></script>
<% End If %></head>
<body>
<h1>Upload files with QORUpload</h1>
<p class="note">This form posts to <code>upload.asp</code>, which hands the request to the
<code>Tandervale.QORUpload</code> component and shows what the page script reads back.
Served by <%= Server.HTMLEncode(Request.ServerVariables("SERVER_SOFTWARE")) %>.</p>
<form id="upload" action="<%= Server.HTMLEncode(action) %>" method="post" enctype="multipart/form-data" accept-charset="utf-8">
  <fieldset>
    <legend>Text</legend>
    <label>Title <input type="text" name="title" value=""></label>
    <label>Author <input type="text" name="author" value="Anonymous"></label>
    <label>Notes <textarea name="notes" rows="4" cols="40"></textarea></label>
  </fieldset>
  <fieldset>
    <legend>Choices</legend>
    <label>Colours
      <select name="colours" multiple size="4">
        <option value="red">Red</option>
        <option value="green">Green</option>
        <option value="blue">Blue</option>
        <option value="amber">Amber</option>
      </select>
    </label>
    <span class="checks">Tags
      <label><input type="checkbox" name="tags" value="news"> News</label>
      <label><input type="checkbox" name="tags" value="photo"> Photo</label>
      <label><input type="checkbox" name="tags" value="draft"> Draft</label>
    </span>
  </fieldset>
  <fieldset>
    <legend>Files</legend>
    <label>One file <input type="file" name="single"></label>
    <label>Several files <input type="file" name="many" multiple></label>
    <label><input type="checkbox" name="save" value="yes"> Keep a copy of each file on the server</label>
    <p class="note">At most 10 files of up to 1 GiB each, just under 2 GiB in all.</p>
  </fieldset>
  <button type="submit">Upload</button>
</form>
<% If progressId <> "" Then %>
<div id="progress" hidden>
  <progress id="progress-bar" max="100" value="0"></progress>
  <p id="progress-text" class="note" aria-live="polite"></p>
</div>
<% End If %>
</body>
</html>
