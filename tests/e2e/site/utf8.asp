<%@ Language="VBScript" CodePage=65001 %>
<% Option Explicit
Response.Charset = "iso-8859-1"
Response.Charset = "utf-8"
Response.ContentType = "text/plain"
%>literal=é 日本
expression=<%= StrReverse("éfac") & " " & StrReverse("本日") & " " & Len("日本") %>
codepage=<%= Response.CodePage %> charset=<%= Response.Charset %>
<% Response.CodePage = 1252 %>after=<%= StrReverse("éfac") %>
