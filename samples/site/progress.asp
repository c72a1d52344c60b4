<% Option Explicit
' How far the upload with the progress ID in ?id= has got, as the JSON object
' that the progress class writes (pure ASCII): progress.js polls it while the
' browser sends the form. Never cached: each poll must reach the server.
Response.ContentType = "application/json"
Response.AddHeader "Cache-Control", "no-store"

' Query's answer to a malformed ID (5 where the engine maps it to its own).
Const kInvalidArgument = &H80070057
Const kInvalidCall = 5

' The progress record's JSON, or "" with status and a short JSON error.
Function ProgressJson(id, status, problem)
    Dim progress, number
    ProgressJson = ""
    If id = "" Then
        status = "400 Bad Request"
        problem = "{""error"":""no progress id""}"
        Exit Function
    End If
    On Error Resume Next
    Set progress = Server.CreateObject("Tandervale.QORUploadProgress")
    If Err.Number = 0 Then ProgressJson = progress.Query(id).Json
    number = Err.Number
    On Error GoTo 0
    If number = 0 Then Exit Function
    ProgressJson = ""
    If number = kInvalidArgument Or number = kInvalidCall Then
        status = "400 Bad Request"
        problem = "{""error"":""invalid progress id""}"
    Else
        status = "500 Internal Server Error"
        problem = "{""error"":""progress is not available""}"
    End If
End Function

Dim json, status, problem
json = ProgressJson(CStr(Request.QueryString("id")), status, problem)
If json = "" Then
    Response.Status = status
    json = problem
End If
Response.Write json
%>
