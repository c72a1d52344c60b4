#include "hosts/dump/DumpReport.h"

#include "hosts/dump/Json.h"

namespace {

// Appends `"name":` and the text as a JSON string, after a comma unless first.
void AppendField(std::string& out, const char* name, const std::wstring& text, bool first = false) {
    if (!first) out += ',';
    out += '"';
    out += name;
    out += "\":";
    AppendJsonString(out, text);
}

// Appends a JSON array of the items, each written by `append`.
template <typename Item, typename Append>
void AppendArray(std::string& out, const std::vector<Item>& items, Append append) {
    out += '[';
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        append(items[i]);
    }
    out += ']';
}

void AppendFormField(std::string& out, const FieldReport& field) {
    out += '{';
    AppendField(out, "name", field.name, true);
    out += ",\"values\":";
    AppendArray(out, field.values, [&](const std::wstring& value) { AppendJsonString(out, value); });
    out += '}';
}

void AppendFile(std::string& out, const FileReport& file) {
    out += '{';
    AppendField(out, "field", file.field, true);
    AppendField(out, "userPath", file.userPath);
    AppendField(out, "fileName", file.fileName);
    AppendField(out, "contentType", file.contentType);
    AppendField(out, "tmpPath", file.tmpPath);
    out += ",\"size\":" + std::to_string(file.size) + ",\"sha256\":";
    out += file.sha256 ? '"' + *file.sha256 + '"' : std::string("null");
    out += '}';
}

void AppendError(std::string& out, const std::optional<ErrorReport>& error) {
    if (!error) {
        out += "null";
        return;
    }
    out += '{';
    AppendField(out, "description", error->description, true);
    AppendField(out, "source", error->source);
    out += '}';
}

}  // namespace

std::string ToJson(const DumpReport& report) {
    std::string out = "{\"result\":\"" + ResultCodeText(report.result) + "\",\"error\":";
    AppendError(out, report.error);
    out += ",\"form\":";
    AppendArray(out, report.form, [&](const FieldReport& field) { AppendFormField(out, field); });
    AppendField(out, "formText", report.formText);
    out += ",\"files\":";
    AppendArray(out, report.files, [&](const FileReport& file) { AppendFile(out, file); });
    out += '}';
    return out;
}
