' Shared closing: SCRIPT-OK only when every check passed.
If failures = 0 Then
    WScript.Echo "SCRIPT-OK"
Else
    WScript.Echo failures & " check(s) failed"
    WScript.Quit 1
End If
