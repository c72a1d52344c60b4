// Shared opening of every script of the suite: run-script puts it in front of
// the script (and the closing after it), so line numbers in engine errors
// count from this file's first line.

var failures = 0;

function check(ok, what) {
    if (!ok) {
        failures++;
        WScript.Echo("FAIL: " + what);
    }
}

function show(value) { return typeof value + " [" + value + "]"; }

// Strict equality: a string must be a string, undefined (VT_EMPTY) must be undefined.
function eq(actual, expected, what) {
    if (actual !== expected) check(false, what + ": got " + show(actual) + ", expected " + show(expected));
}

// The error that fn throws, or null.
function thrown(fn) {
    try {
        fn();
    } catch (e) {
        return e;
    }
    return null;
}

// The items of a collection through new Enumerator, joined with "|".
function listed(collection) {
    var items = [];
    for (var e = new Enumerator(collection); !e.atEnd(); e.moveNext()) items.push(e.item());
    return items.join("|");
}

