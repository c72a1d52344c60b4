<%@ Language="VBScript" CodePage=12345 %>
not reached
