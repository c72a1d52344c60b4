#include "DumpReport.h"

#include "Json.h"

std::string ToJson(const DumpReport& report) {
    std::string out = "{\"result\":\"" + ResultCodeText(report.result) + "\",\"error\":";
    if (report.error) {
        out += "{\"description\":";
        AppendJsonString(out, report.error->description);
        out += ",\"source\":";
        AppendJsonString(out, report.error->source);
        out += '}';
    } else {
        out += "null";
    }

    out += ",\"form\":[";
    for (size_t i = 0; i < report.form.size(); ++i) {
        const FieldReport& field = report.form[i];
        out += i ? ",{\"name\":" : "{\"name\":";
        AppendJsonString(out, field.name);
        out += ",\"values\":[";
        for (size_t j = 0; j < field.values.size(); ++j) {
            if (j) out += ',';
            AppendJsonString(out, field.values[j]);
        }
        out += "]}";
    }

    out += "],\"formText\":";
    AppendJsonString(out, report.formText);

    out += ",\"files\":[";
    for (size_t i = 0; i < report.files.size(); ++i) {
        const FileReport& file = report.files[i];
        out += i ? ",{\"field\":" : "{\"field\":";
        AppendJsonString(out, file.field);
        out += ",\"userPath\":";
        AppendJsonString(out, file.userPath);
        out += ",\"fileName\":";
        AppendJsonString(out, file.fileName);
        out += ",\"contentType\":";
        AppendJsonString(out, file.contentType);
        out += ",\"tmpPath\":";
        AppendJsonString(out, file.tmpPath);
        out += ",\"size\":" + std::to_string(file.size) + ",\"sha256\":";
        out += file.sha256 ? '"' + *file.sha256 + '"' : std::string("null");
        out += '}';
    }
    out += "]}";
    return out;
}
