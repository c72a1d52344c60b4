#pragma once
// The command line of qorupload-dump: one or more requests, each given as
// --content-type TEXT and --body FILE (in either order, also as
// --content-type=TEXT and --body=FILE).
#include <string>
#include <vector>

struct DumpRequest {
    std::wstring contentType;
    std::wstring bodyPath;
};

struct DumpArguments {
    std::vector<DumpRequest> requests;
    bool help = false;
    std::wstring error;  // set when the command line is not usable
};

// args excludes the program name.
DumpArguments ParseDumpArguments(const std::vector<std::wstring>& args);

extern const char kDumpUsage[];
