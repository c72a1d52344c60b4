/* Defines the script engine interface identifiers, which MinGW's import
   libraries lack on Win64 (IID_IActiveScriptParse64). The only file of the
   page host that includes <initguid.h> before <activscp.h>. */
#include <windows.h>
#include <initguid.h>
#include <activscp.h>
