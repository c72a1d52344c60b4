#pragma once
// Straightforward restatement of multipart parsing, written independently of
// the parser: one byte at a time from a string, the six delimiter states with
// an explicit held-back string, literal token splitting, a linear field
// search, and file data collected in memory. Tests compare the parser, with
// its bulk paths, against it.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/LiteralTokens.h"

namespace reference {

struct File {
    std::string fieldName;
    std::string userPath;
    std::string data;
};

struct Result {
    std::vector<std::pair<std::string, std::vector<std::string>>> fields;
    std::vector<File> files;
};

class Multipart {
public:
    Multipart(std::string body, std::string delimiter) : body_(std::move(body)), delimiter_(std::move(delimiter)) {}

    Result Parse() {
        if (!ReadLine()) return result_;
        if (std::strcmp(line_.c_str(), delimiter_.c_str()) != 0) return result_;
        while (ParsePart()) {
        }
        return result_;
    }

private:
    enum class Sink { Value, File, Skip };

    bool GetByte(unsigned char& c) {
        if (pos_ >= body_.size()) return false;
        c = static_cast<unsigned char>(body_[pos_++]);
        return true;
    }

    bool ReadLine() {
        line_.clear();
        unsigned char c;
        while (GetByte(c)) {
            if (c == '\n') return true;
            if (c != '\r') line_.push_back(static_cast<char>(c));
        }
        return false;
    }

    void Pass(Sink sink, const std::string& bytes) {
        if (sink == Sink::Value) result_.fields[field_].second[value_] += bytes;
        if (sink == Sink::File) result_.files.back().data += bytes;
    }

    int CopyPartData(Sink sink) {
        int state = 0;
        std::string held;
        unsigned char c;
        bool again = false;
        for (;;) {
            if (!again && !GetByte(c)) return 0;
            again = false;
            switch (state) {
            case 0:
                if (c == '\r') {
                    held = "\r";
                    state = 1;
                } else {
                    Pass(sink, std::string(1, static_cast<char>(c)));
                }
                break;
            case 1:
                if (c == '\n') {
                    held += "\n";
                    state = 2;
                } else {
                    Pass(sink, held);
                    state = 0;
                    again = true;
                }
                break;
            case 2: {
                const size_t k = held.size() - 2;
                if (k < delimiter_.size() && c == static_cast<unsigned char>(delimiter_[k])) {
                    held.push_back(static_cast<char>(c));
                    if (held.size() - 2 == delimiter_.size()) state = 3;
                } else {
                    Pass(sink, held);
                    state = 0;
                    again = true;
                }
                break;
            }
            case 3:
                if (c == '-') {
                    held.push_back('-');
                    state = 4;
                } else if (c == '\r') {
                    held.push_back('\r');
                    state = 5;
                } else {
                    Pass(sink, held + static_cast<char>(c));
                    state = 0;
                }
                break;
            case 4:
                if (c == '-') return 0;
                Pass(sink, held);
                state = 0;
                again = true;
                break;
            case 5:
                if (c == '\n') return 1;
                Pass(sink, held);
                state = 0;
                again = true;
                break;
            }
        }
    }

    size_t FindField(const std::string& name) const {
        size_t at = 0;
        while (at < result_.fields.size() && std::strcmp(result_.fields[at].first.c_str(), name.c_str()) != 0) ++at;
        return at;
    }

    void AddValue(const std::string& name, const std::string& value) {
        field_ = FindField(name);
        if (field_ == result_.fields.size()) result_.fields.push_back({name, {}});
        value_ = result_.fields[field_].second.size();
        result_.fields[field_].second.push_back(value);
    }

    bool ParsePart() {
        std::string fieldName, fileName;
        bool isFile = false;
        bool more = ReadLine();
        while (more && !line_.empty()) {
            unsigned colon = 0;
            std::string header = literal::Token(line_, ":", " \t,", 0, 0, &colon);
            if (colon + 1 < line_.size()) {
                for (char& ch : header)
                    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
                if (header == "CONTENT-DISPOSITION") {
                    isFile = false;
                    fileName.clear();
                    const std::string value = line_.substr(colon + 1);
                    const unsigned count = literal::TokenCount(value, ";", " \t,", 0);
                    for (unsigned i = 0; i < count; ++i) {
                        const std::string parameter = literal::Token(value, ";", " \t,", i, 0);
                        const std::string name = literal::Token(parameter, "=", " \t\"", 0, 0);
                        const std::string text =
                            literal::Trim(literal::Token(parameter, "=", " \t\"", 1, 0), " \t\"");
                        if (name == "name") {
                            fieldName = text;
                        } else if (name == "filename") {
                            isFile = true;
                            fileName = text;
                        }
                    }
                }
            }
            more = ReadLine();
        }
        if (fieldName.empty()) return false;
        if (!isFile) {
            AddValue(fieldName, "");
            CopyPartData(Sink::Value);
        } else if (fileName.empty()) {
            CopyPartData(Sink::Skip);
        } else {
            result_.files.push_back({fieldName, fileName, ""});
            AddValue(fieldName, fileName);
            CopyPartData(Sink::File);
        }
        return true;
    }

    std::string body_;
    std::string delimiter_;
    std::string line_;
    size_t pos_ = 0;
    size_t field_ = 0;
    size_t value_ = 0;
    Result result_;
};

}  // namespace reference
