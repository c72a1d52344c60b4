<%
Select Case Request.QueryString("do")
Case "redirect"
    Response.Redirect "/basics.asp?a=moved"
    Response.Write "not reached"
Case "status"
    Response.Status = "404 Nothing Here"
    Response.AddHeader "X-Probe", "yes"
    Response.Write "custom status"
Case "bad-status"
    Response.Status = "fine"
Case Else
    Response.Write "before end"
    Response.End
    Response.Write " after end"
End Select
%>
