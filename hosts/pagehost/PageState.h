#pragma once
// Everything one page run shares: the request as it arrived, the response
// being built, and the objects the page created. Lives on one worker thread.
#include "hosts/pagehost/BodyStream.h"  // first: <winsock2.h> goes before <windows.h>

#include "com/ComHolders.h"
#include "hosts/pagehost/HttpHead.h"

#include <windows.h>

#include <string>
#include <vector>

namespace pagehost {

// The component's resource owners and failure idiom, unqualified.
using namespace qor;

struct PageRequest {
    HttpRequestHead head;
    uint64_t contentLength = 0;  // within the host's limit, which TotalBytes can count
    std::string remoteAddress;
    int serverPort = 0;
    std::string scriptName;     // URL path of the page, decoded
    std::wstring siteRoot;      // Windows path, no trailing separator
    std::wstring physicalPath;  // the page file
};

struct PageResponse {
    std::string status = "200 OK";
    std::string contentType = "text/html";  // as the page set it, without the charset
    std::string charset;                    // Response.Charset; empty when not set
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Response.Write converts text to bytes in this code page: the page's
    // directive's, else the ANSI one, so that text which arrived as bytes
    // goes back out unchanged.
    UINT codePage = CP_ACP;
};

// An object the page made with Server.CreateObject.
struct CreatedObject {
    ComPtr<IDispatch> object;
    DISPID onEndPage = DISPID_UNKNOWN;  // found by name; DISPID_UNKNOWN when absent
};

struct PageState {
    PageRequest request;
    // The body as it arrives, owned by the connection; null once the page has
    // ended, so that an object kept past its page reads nothing.
    BodyStream* body = nullptr;
    PageResponse response;
    bool ended = false;   // Response.End or Redirect: the page stops here
    std::vector<CreatedObject> created;
};

// The result code with which Response.End stops the script.
inline constexpr HRESULT kPageEnded = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0E0D);

}  // namespace pagehost
