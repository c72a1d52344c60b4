#include "PageCompiler.h"

#include <algorithm>

namespace pagehost {

namespace {

bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

int CountLines(std::string_view text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class ScriptWriter {
public:
    explicit ScriptWriter(CompiledPage& out) : out_(out) {}

    void Line(std::string_view text, int pageLine) {
        out_.script.append(text);
        out_.script += '\n';
        out_.pageLines.push_back(pageLine);
    }
    bool Empty() const { return out_.pageLines.empty(); }

private:
    CompiledPage& out_;
};

}  // namespace

std::string VbStringExpression(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    bool inString = false;
    auto part = [&](const char* constant) {
        if (inString) { out += '"'; inString = false; }
        if (!out.empty()) out += " & ";
        out += constant;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            part("vbCrLf");
            ++i;
        } else if (c == '\n') {
            part("vbLf");
        } else if (c == '\r') {
            part("vbCr");
        } else if (c < 0x20 && c != '\t') {
            part(("Chr(" + std::to_string(c) + ")").c_str());
        } else {
            if (!inString) {
                if (!out.empty()) out += " & ";
                out += '"';
                inString = true;
            }
            if (c == '"') out += '"';
            out += static_cast<char>(c);
        }
    }
    if (inString) out += '"';
    if (out.empty()) out = "\"\"";
    return out;
}

CompiledPage CompilePage(std::string_view page) {
    CompiledPage out;
    ScriptWriter writer(out);
    int line = 1;  // page line at `pos`
    size_t pos = 0;
    while (pos < page.size()) {
        const size_t open = page.find("<%", pos);
        const std::string_view literal = page.substr(pos, open == std::string_view::npos ? std::string_view::npos : open - pos);
        // Blank text ahead of the first statement is dropped, so that a page
        // may begin with a directive and Option Explicit on their own lines.
        if (!literal.empty() && !(writer.Empty() && IsBlank(literal)))
            writer.Line("Response.Write " + VbStringExpression(literal), line);
        line += CountLines(literal);
        if (open == std::string_view::npos) break;

        const size_t close = page.find("%>", open + 2);
        if (close == std::string_view::npos) {
            out.error = "The <% opened here is never closed with %>";
            out.errorLine = line;
            out.script.clear();
            out.pageLines.clear();
            return out;
        }
        std::string_view block = page.substr(open + 2, close - open - 2);
        if (!block.empty() && block.front() == '@') {
            // A directive (language, code page): VBScript is the only language.
        } else if (!block.empty() && block.front() == '=') {
            std::string expression(block.substr(1));
            std::replace(expression.begin(), expression.end(), '\r', ' ');
            std::replace(expression.begin(), expression.end(), '\n', ' ');
            writer.Line("Response.Write (" + expression + ")", line);
        } else {
            int codeLine = line;
            size_t start = 0;
            while (true) {
                const size_t end = block.find('\n', start);
                std::string_view text = block.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
                if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
                writer.Line(text, codeLine);
                if (end == std::string_view::npos) break;
                start = end + 1;
                ++codeLine;
            }
        }
        line += CountLines(block);
        pos = close + 2;
    }
    return out;
}

}  // namespace pagehost
