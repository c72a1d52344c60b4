#pragma once
// The command line of qorupload-dump: one or more requests, each given as
// --content-type TEXT and --body FILE (in either order, also as
// --content-type=TEXT and --body=FILE), and settings of the component's
// second layer put on the object before the first request (--code-page N,
// --max-total-bytes N, ..., also as --code-page=N). A command line that is
// not usable comes back with its error set; only running out of memory throws.
#include <windows.h>

#include <string>
#include <vector>

struct DumpRequest {
    std::wstring contentType;
    std::wstring bodyPath;
};

// A property of the upload object and the value to put into it.
struct DumpSetting {
    std::wstring property;
    LONG value = 0;
};

struct DumpArguments {
    std::vector<DumpRequest> requests;
    std::vector<DumpSetting> settings;  // in the order given
    bool help = false;
    std::wstring error;  // set when the command line is not usable
};

// args excludes the program name.
DumpArguments ParseDumpArguments(const std::vector<std::wstring>& args);

extern const char kDumpUsage[];
