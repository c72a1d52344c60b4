// Shared closing: SCRIPT-OK only when every check passed.
if (failures == 0) {
    WScript.Echo("SCRIPT-OK");
} else {
    WScript.Echo(failures + " check(s) failed");
    WScript.Quit(1);
}
