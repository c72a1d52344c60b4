// Failures as a JScript page sees them: the component's own descriptions in
// the thrown errors, for the page states and for failing host calls.
// Prints SCRIPT-OK as its last line when every check passed.

// A failure that the component reported: its description, and a failing number.
function failedWith(e, description, what) {
    check(e !== null, what + ": no error");
    if (e === null) return;
    eq(e.description, description, what + ": description");
    check(e.number < 0, what + ": number " + e.number);
}

var host = new ActiveXObject("QORTest.PageHost");
host.SetContentType("application/x-www-form-urlencoded");
host.SetBody("x=1");
var up = new ActiveXObject("Tandervale.QORUpload");

failedWith(thrown(function () { up.ProcessPostData(); }), "Function OnStartPage call missed", "before OnStartPage");
host.Start(up);
up.ProcessPostData();
eq(up.Form.Count, 1, "parsed once started");
host.End(up);
failedWith(thrown(function () { up.ProcessPostData(); }), "Function OnStartPage call missed", "after OnEndPage");

var steps = [["GetServerVariables", "Can't obtain server variables"],
             ["GetItem", "Can't obtain content-type"],
             ["GetTotalBytes", "Can't obtain total bytes"],
             ["BinaryRead", "Can't call BinaryRead"]];
for (var i = 0; i < steps.length; i++) {
    var h = new ActiveXObject("QORTest.PageHost");
    h.SetContentType("application/x-www-form-urlencoded");
    h.SetBody("y=2");
    var u = new ActiveXObject("Tandervale.QORUpload");
    h.Start(u);
    h.FailStep(steps[i][0], 0x80040201);
    failedWith(thrown(function () { u.ProcessPostData(); }), steps[i][1], steps[i][0]);
    eq(u.Form.Count, 0, steps[i][0] + ": nothing parsed");
    h.End(u);
    eq(h.LiveObjects, 0, steps[i][0] + ": host references released");
}

var h2 = new ActiveXObject("QORTest.PageHost");
var u2 = new ActiveXObject("Tandervale.QORUpload");
h2.FailStep("GetRequest", 0x80040202);
failedWith(thrown(function () { h2.Start(u2); }), "Can't obtain Request object", "OnStartPage without a Request");
failedWith(thrown(function () { u2.ProcessPostData(); }), "Function OnStartPage call missed", "the page did not start");
