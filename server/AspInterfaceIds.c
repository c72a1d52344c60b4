/* Defines the page host interface identifiers (IID_IScriptingContext,
   IID_IRequest, ...) that MinGW's import libraries lack. The only file that
   includes <initguid.h> before <asptlb.h>. */
#include <windows.h>
#include <initguid.h>
#include <asptlb.h>
