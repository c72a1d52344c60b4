#pragma once
// Turns an .asp page into one VBScript program: literal text becomes
// Response.Write calls, <% code %> is copied as it stands and <%= expression %>
// writes the expression's value. Works on bytes; the caller chooses the code
// page in which the program is handed to the script engine.
#include <string>
#include <string_view>
#include <vector>

namespace pagehost {

struct CompiledPage {
    std::string script;
    // For each line of the script (0-based), the page line (1-based) it came
    // from, so that script errors point into the page.
    std::vector<int> pageLines;
    // Set when the page cannot be compiled (an unclosed <%), with its line.
    std::string error;
    int errorLine = 0;

    // The page line of a script line; 0 when the script has no such line.
    int PageLine(unsigned long scriptLine) const {
        return scriptLine < pageLines.size() ? pageLines[scriptLine] : 0;
    }
};

CompiledPage CompilePage(std::string_view page);

// A VBScript expression whose value is exactly `text` (quotes doubled, line
// breaks and other control characters as constants).
std::string VbStringExpression(std::string_view text);

}  // namespace pagehost
