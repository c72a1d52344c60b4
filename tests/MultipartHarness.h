#pragma once
// Multipart bodies for tests: parse one through a ByteBuffer as the upload
// object does, and look at the stored files as a script would.
#include <string>
#include <vector>

#include "tests/ParserHarness.h"
#include "tests/TempDirectory.h"

constexpr const char* kBoundary = "AaB03x";
const std::string kDelimiter = std::string("--") + kBoundary;
const std::string kMultipartType = std::string("multipart/form-data; boundary=") + kBoundary;

inline void ParseMultipartBody(PostDataParser& parser, const std::string& body) {
    ParseBody(parser, kMultipartType, body);
}

// One part, with the delimiter line that opens it and the CR LF that the next
// delimiter needs in front of it.
inline std::string Part(const std::string& disposition, const std::string& data, const std::string& extra = "") {
    return kDelimiter + "\r\nContent-Disposition: form-data; " + disposition + "\r\n" + extra + "\r\n" + data +
           "\r\n";
}
inline std::string Closing() { return kDelimiter + "--\r\n"; }

struct StoredFile {
    std::string fieldName, userPath, tmpPath;
    int32_t size;
    std::string data;
    bool operator==(const StoredFile&) const = default;
};

inline std::vector<StoredFile> StoredFiles(const PostDataParser& parser) {
    std::vector<StoredFile> out;
    for (const UploadedFile& f : parser.Files())
        out.push_back({Str(f.fieldName), Str(f.userPath), Str(f.tmpPath.Name()), f.size, ReadWholeFile(Str(f.tmpPath.Name()))});
    return out;
}

// Field name, browser path and data of each stored file, for comparisons.
struct FileView {
    std::string fieldName, userPath, data;
    bool operator==(const FileView&) const = default;
};
inline std::vector<FileView> Files(const PostDataParser& parser) {
    std::vector<FileView> out;
    for (const StoredFile& f : StoredFiles(parser)) out.push_back({f.fieldName, f.userPath, f.data});
    return out;
}
