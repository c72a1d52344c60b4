#include "PostDataParser.h"

#include "RuntimeFiles.h"
#include "TokenSplitter.h"

namespace {
constexpr const char* kParameterBlanks = " \t\"";
}

PostDataParser::~PostDataParser() {
    // A file already gone, moved or undeletable simply stays as it is.
    for (const UploadedFile& file : files) rt::Unlink(file.tmpPath.Text());
}

void PostDataParser::Parse(InputBuffer& input) {
    line.Assign(contentType);
    TokenSplitter top(line, ";");
    top.TrimLeft();
    top.TrimRight();
    if (line.Equals("application/x-www-form-urlencoded")) return ParseUrlEncoded(input);

    // Only the first parameter may carry the boundary.
    ByteString mediaType, parameter, name, boundary;
    top.Token(mediaType, 0, 0);
    TokenSplitter split(mediaType, "=", kParameterBlanks);
    split.TrimLeft();
    split.TrimRight();
    if (!mediaType.Equals("multipart/form-data")) return;

    top.Token(parameter, 1, 0);
    split.SetTarget(parameter);
    split.Token(name, 0, 0);
    split.Token(boundary, 1, 0);
    split.SetTarget(name);
    split.TrimLeft();
    split.TrimRight();
    if (!name.Equals("boundary")) return;

    split.SetTarget(boundary);
    split.TrimLeft();
    split.TrimRight();
    delimiter.Assign("--");
    delimiter.Append(boundary.Text());
    ParseMultipart(input);
}

const ByteString& PostDataParser::FormText() {
    line.Clear();
    for (uint32_t i = 0; i < fields.Count(); ++i) {
        const FormField& field = fields[i];
        if (i != 0) line.PushChar(';');
        line.Append(field.name.Text());
        line.PushChar('=');
        for (uint32_t v = 0; v < field.values.Count(); ++v) {
            if (v != 0) line.PushChar(',');
            line.Append(field.values[v].Text());
        }
    }
    return line;
}
