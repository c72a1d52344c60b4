#include "hosts/pagehost/PageCompiler.h"

#include <algorithm>
#include <utility>

namespace pagehost {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsBlank(std::string_view text) { return std::all_of(text.begin(), text.end(), IsSpace); }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
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

// One attribute of a directive: `name`, `name=value`, `name = "value"`.
struct Attribute {
    std::string_view name;
    std::string_view value;
    bool hasValue = false;
    bool closed = true;  // false for a quoted value without its closing quote
};

// The attributes of a directive's text (what follows its '@'), in order.
std::vector<Attribute> DirectiveAttributes(std::string_view text) {
    std::vector<Attribute> out;
    size_t i = 0;
    auto skipBlanks = [&] { while (i < text.size() && IsSpace(text[i])) ++i; };
    auto readWord = [&](auto stop) {
        const size_t start = i;
        while (i < text.size() && !IsSpace(text[i]) && !stop(text[i])) ++i;
        return text.substr(start, i - start);
    };
    for (skipBlanks(); i < text.size(); skipBlanks()) {
        Attribute attribute;
        attribute.name = readWord([](char c) { return c == '='; });
        skipBlanks();
        if (i < text.size() && text[i] == '=') {
            ++i;
            skipBlanks();
            attribute.hasValue = true;
            if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
                const size_t end = text.find(text[i], i + 1);
                attribute.closed = end != std::string_view::npos;
                attribute.value = text.substr(i + 1, attribute.closed ? end - i - 1 : std::string_view::npos);
                i = attribute.closed ? end + 1 : text.size();
            } else {
                attribute.value = readWord([](char) { return false; });
            }
        }
        out.push_back(attribute);
    }
    return out;
}

// The code page a CodePage attribute names; an error text when it names none
// that can be used.
std::string ReadCodePage(const Attribute& attribute, CodePageKnown known, unsigned& codePage) {
    const std::string_view digits = attribute.value;
    unsigned number = 0;
    const bool isNumber = attribute.hasValue && attribute.closed && !digits.empty() && digits.size() <= 5 &&
                          std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (isNumber)
        for (char c : digits) number = number * 10 + static_cast<unsigned>(c - '0');
    if (!isNumber || number == 0 || number > 65535)
        return "The <%@ %> directive's CodePage needs a code page number, such as CodePage=65001";
    if (known && !known(number))
        return "The <%@ %> directive's CodePage=" + std::to_string(number) + " is not a code page this system knows";
    codePage = number;
    return {};
}

// Reads a directive's code page into the page; an error text when it cannot.
std::string ApplyDirective(std::string_view text, CodePageKnown known, CompiledPage& out) {
    for (const Attribute& attribute : DirectiveAttributes(text)) {
        if (!EqualsIgnoringCase(attribute.name, "CodePage")) continue;  // Language and the rest: VBScript it is
        std::string error = ReadCodePage(attribute, known, out.codePage);
        if (!error.empty()) return error;
    }
    return {};
}

void Fail(CompiledPage& out, std::string message, int line) {
    out.error = std::move(message);
    out.errorLine = line;
    out.script.clear();
    out.pageLines.clear();
}

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

CompiledPage CompilePage(std::string_view page, CodePageKnown known) {
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
            Fail(out, "The <% opened here is never closed with %>", line);
            return out;
        }
        std::string_view block = page.substr(open + 2, close - open - 2);
        if (!block.empty() && block.front() == '@') {
            // The code page must be known before any text of the page is.
            std::string error = writer.Empty()
                ? ApplyDirective(block.substr(1), known, out)
                : "The <%@ %> directive must come before any other text or script of the page";
            if (!error.empty()) {
                Fail(out, std::move(error), line);
                return out;
            }
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
