<%
Dim thing
Select Case Request.QueryString("do")
Case "unknown"
    Set thing = Server.CreateObject("No.Such.Thing")
Case "nostart"
    ' Created by the script engine, not the host: no OnStartPage.
    Set thing = CreateObject("Tandervale.QORUpload")
    thing.ProcessPostData
End Select
Response.Write "no error"
%>
