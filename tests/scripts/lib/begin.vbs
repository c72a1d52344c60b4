' Shared opening of every script of the suite: run-script puts it in front of
' the script (and the closing after it), so line numbers in engine errors
' count from this file's first line.
Option Explicit


Dim failures : failures = 0

Sub Check(ok, what)
    If Not ok Then
        failures = failures + 1
        WScript.Echo "FAIL: " & what
    End If
End Sub

Function Show(value)
    If IsObject(value) Then
        Show = "(object)"
    ElseIf IsNull(value) Then
        Show = "Null"
    Else
        Show = TypeName(value) & " [" & value & "]"
    End If
End Function

' Strings must be strings, Empty must be Empty; numbers compare by value.
Sub CheckEq(actual, expected, what)
    Dim same : same = False
    If IsObject(actual) Or IsNull(actual) Then
        same = False
    ElseIf IsEmpty(expected) Then
        same = IsEmpty(actual)
    ElseIf VarType(expected) = vbString Then
        If VarType(actual) = vbString Then same = (actual = expected)
    ElseIf Not IsEmpty(actual) Then
        same = (actual = expected)
    End If
    If Not same Then Check False, what & ": got " & Show(actual) & ", expected " & Show(expected)
End Sub

' The values of a For Each, joined with "|".
Function Listed(collection)
    Dim item, text, first
    text = ""
    first = True
    For Each item In collection
        If Not first Then text = text & "|"
        text = text & item
        first = False
    Next
    Listed = text
End Function

' One part of a multipart body; fileName Null makes a text part.
Function Part(boundary, fieldName, fileName, data)
    Dim header
    header = "Content-Disposition: form-data; name=""" & fieldName & """"
    If Not IsNull(fileName) Then
        header = header & "; filename=""" & fileName & """" & vbCrLf & "Content-Type: application/octet-stream"
    End If
    Part = "--" & boundary & vbCrLf & header & vbCrLf & vbCrLf & data & vbCrLf
End Function
