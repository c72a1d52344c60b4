#pragma once
// Turns an .asp page into one VBScript program: literal text becomes
// Response.Write calls, <% code %> is copied as it stands and <%= expression %>
// writes the expression's value. Works on bytes; the caller hands the program
// to the script engine in the code page that the page's directive names (its
// own default when there is none). A page that cannot be compiled comes back
// with its error and line set; only running out of memory throws.
#include <string>
#include <string_view>
#include <vector>

namespace pagehost {

struct CompiledPage {
    std::string script;
    // For each line of the script (0-based), the page line (1-based) it came
    // from, so that script errors point into the page.
    std::vector<int> pageLines;
    // From <%@ CodePage=N %>: the page's bytes are in code page N, and its
    // answer starts out in it. 0 when the page names no code page.
    unsigned codePage = 0;
    // Set when the page cannot be compiled (an unclosed <%, a directive that
    // is not first or names no usable code page), with its line.
    std::string error;
    int errorLine = 0;

    // The page line of a script line; 0 when the script has no such line.
    int PageLine(unsigned long scriptLine) const {
        return scriptLine < pageLines.size() ? pageLines[scriptLine] : 0;
    }
};

// Whether the platform can convert text from and to a code page; the
// compiler itself knows none.
using CodePageKnown = bool (*)(unsigned codePage);

// Without `known`, any code page number from 1 to 65535 is taken.
CompiledPage CompilePage(std::string_view page, CodePageKnown known = nullptr);

// A VBScript expression whose value is exactly `text` (quotes doubled, line
// breaks and other control characters as constants).
std::string VbStringExpression(std::string_view text);

}  // namespace pagehost
