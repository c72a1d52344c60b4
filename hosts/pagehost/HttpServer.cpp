#include "HttpServer.h"

#include "Text.h"

#include <ws2tcpip.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace pagehost {

namespace {

constexpr DWORD kSocketTimeoutMs = 60'000;

bool SendAll(SOCKET s, const char* data, size_t size) {
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
        const int sent = send(s, data, chunk, 0);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

void SendResponse(SOCKET s, const HttpResponse& response) {
    std::string head = "HTTP/1.1 " + response.status + "\r\n";
    head += "Server: QORUpload-PageHost\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += "Cache-Control: no-store\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (!SendAll(s, head.data(), head.size())) return;
    if (!response.headOnly) SendAll(s, response.body.data(), response.body.size());
}

HttpResponse Simple(const char* status, const std::string& detail) {
    HttpResponse response;
    response.status = status;
    response.body = "<!DOCTYPE html>\n<html><head><title>" + std::string(status) + "</title></head><body><h1>" +
                    status + "</h1><p>" + HtmlEscape(detail) + "</p></body></html>\n";
    return response;
}

// After an early answer (413, 411, ...) the client may still be sending:
// stop writing, read what comes for a moment, so that it sees the answer
// rather than a reset.
void CloseGently(SOCKET s) {
    shutdown(s, SD_SEND);
    const DWORD shortWait = 2000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&shortWait), sizeof shortWait);
    char sink[16384];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline && recv(s, sink, sizeof sink, 0) > 0) {}
}

bool ReadFileBytes(const std::wstring& path, std::string& out) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return false;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, n);
    const bool ok = !ferror(file);
    fclose(file);
    return ok;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string Utf8(std::wstring_view text) { return Narrow(text, CP_UTF8); }

// The page's content type with its charset, in whichever order the page set them.
std::string ContentTypeHeader(const PageResponse& page) {
    return page.charset.empty() ? page.contentType : page.contentType + "; charset=" + page.charset;
}

void Log(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

HttpServer::HttpServer(ServerOptions options) : options_(std::move(options)), pool_(options_.workers) {}

HttpServer::~HttpServer() {
    Stop();
    // Let connection threads that are still busy finish, for a bounded time.
    std::unique_lock lock(mutex_);
    idle_.wait_for(lock, std::chrono::seconds(10), [&] { return connections_ == 0; });
}

void HttpServer::Stop() {
    stopping_ = true;
    const SOCKET s = listener_.exchange(INVALID_SOCKET);
    if (s != INVALID_SOCKET) closesocket(s);
}

bool HttpServer::Run() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(options_.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 64) != 0) {
        Log("pagehost: cannot listen on 127.0.0.1:" + std::to_string(options_.port) + " (error " +
            std::to_string(WSAGetLastError()) + ")");
        closesocket(s);
        return false;
    }
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    listener_ = s;
    if (!options_.portFile.empty()) {
        if (FILE* file = _wfopen(options_.portFile.c_str(), L"wb")) {
            std::fprintf(file, "%d\n", port);
            fclose(file);
        }
    }
    std::printf("pagehost: serving %s on http://127.0.0.1:%d/\n", Utf8(options_.siteRoot).c_str(), port);
    std::fflush(stdout);

    while (!stopping_) {
        {
            std::unique_lock lock(mutex_);
            idle_.wait(lock, [&] { return connections_ < options_.maxConnections; });
        }
        sockaddr_in peer{};
        int peerLength = sizeof peer;
        const SOCKET client = accept(s, reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (client == INVALID_SOCKET) {
            if (stopping_) break;
            continue;
        }
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        {
            std::lock_guard lock(mutex_);
            ++connections_;
        }
        try {
            std::thread([this, client, remote = std::string(text)] {
                try {
                    Serve(client, remote);
                } catch (...) {  // out of memory: this connection is dropped, the host goes on
                }
                closesocket(client);
                std::lock_guard lock(mutex_);
                --connections_;
                idle_.notify_all();
            }).detach();
        } catch (...) {  // no thread to be had: drop this connection
            closesocket(client);
            std::lock_guard lock(mutex_);
            --connections_;
        }
    }
    return true;
}

void HttpServer::Serve(SOCKET client, std::string remote) {
    const auto started = std::chrono::steady_clock::now();
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&kSocketTimeoutMs), sizeof kSocketTimeoutMs);
    setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&kSocketTimeoutMs), sizeof kSocketTimeoutMs);

    std::string buffer;
    size_t headEnd = 0;
    char chunk[65536];
    while ((headEnd = FindHeadEnd(buffer)) == 0) {
        if (buffer.size() > kMaxHeadBytes) {
            SendResponse(client, Simple("431 Request Header Fields Too Large", "The request head is too large."));
            return CloseGently(client);
        }
        const int n = recv(client, chunk, sizeof chunk, 0);
        if (n <= 0) return;  // closed or timed out before a whole head
        buffer.append(chunk, static_cast<size_t>(n));
    }

    PageRequest request;
    request.remoteAddress = std::move(remote);
    request.serverPort = options_.port;
    request.siteRoot = options_.siteRoot;
    if (sockaddr_in local{}; true) {
        int length = sizeof local;
        if (getsockname(client, reinterpret_cast<sockaddr*>(&local), &length) == 0) request.serverPort = ntohs(local.sin_port);
    }
    HttpRequestHead& head = request.head;
    auto answer = [&](const HttpResponse& response, bool early) {
        SendResponse(client, response);
        if (early) CloseGently(client);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
        Log(head.method + " " + head.target + " " + response.status.substr(0, 3) + " " +
            std::to_string(request.body.size()) + " bytes in, " + std::to_string(response.body.size()) + " out, " +
            std::to_string(ms) + " ms");
    };
    if (!ParseRequestHead(std::string_view(buffer).substr(0, headEnd), head))
        return answer(Simple("400 Bad Request", "The request is malformed."), true);

    // The body: a Content-Length is required, bounded by the limit.
    const std::string* lengthField = head.Header("Content-Length");
    const std::string* encoding = head.Header("Transfer-Encoding");
    const bool wantsBody = head.method == "POST" || head.method == "PUT";
    if (encoding || (wantsBody && !lengthField))
        return answer(Simple("411 Length Required", "A request body needs a Content-Length."), true);
    const auto length = lengthField ? ParseContentLength(*lengthField) : std::optional<uint64_t>(0);
    if (!length) return answer(Simple("400 Bad Request", "The Content-Length is not a number."), true);
    if (*length > options_.maxBodyBytes)
        return answer(Simple("413 Content Too Large", "The request body is larger than " +
                                                          std::to_string(options_.maxBodyBytes) + " bytes."), true);
    if (*length > 0) {
        if (const std::string* expect = head.Header("Expect"); expect && EqualsIgnoreCase(*expect, "100-continue")) {
            static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            if (!SendAll(client, kContinue, sizeof kContinue - 1)) return;
        }
    }
    try {
        request.body.reserve(static_cast<size_t>(*length));
    } catch (const std::bad_alloc&) {
        return answer(Simple("503 Service Unavailable", "No memory for the request body."), true);
    }
    request.body.assign(buffer, headEnd, std::min<size_t>(buffer.size() - headEnd, static_cast<size_t>(*length)));
    buffer.clear();
    buffer.shrink_to_fit();
    while (request.body.size() < *length) {
        const size_t want = std::min<size_t>(sizeof chunk, static_cast<size_t>(*length) - request.body.size());
        const int n = recv(client, chunk, static_cast<int>(want), 0);
        if (n <= 0) {
            Log(head.method + " " + head.target + ": the client sent " + std::to_string(request.body.size()) + " of " +
                std::to_string(*length) + " bytes and stopped");
            return;
        }
        request.body.append(chunk, static_cast<size_t>(n));
    }
    answer(Handle(request), false);
}

HttpResponse HttpServer::Handle(PageRequest& request) {
    const HttpRequestHead& head = request.head;
    const bool isHead = head.method == "HEAD";
    if (head.method != "GET" && !isHead && head.method != "POST")
        return Simple("405 Method Not Allowed", "Only GET, HEAD and POST are served.");
    const auto relative = SiteRelativePath(head.path);
    if (!relative) return Simple("400 Bad Request", "The path is not within the site.");

    std::string urlPath = "/" + *relative;
    std::wstring file = options_.siteRoot + L"\\" + Widen(*relative, CP_UTF8);
    for (wchar_t& c : file) if (c == L'/') c = L'\\';
    DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (!urlPath.ends_with('/')) urlPath += '/';
        file += relative->empty() ? L"index.asp" : L"\\index.asp";
        urlPath += "index.asp";
        attributes = GetFileAttributesW(file.c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Simple("404 Not Found", "There is no " + urlPath + " on this site.");

    request.scriptName = urlPath;
    request.physicalPath = file;
    HttpResponse response;
    if (EndsWithIgnoreCase(urlPath, ".asp")) {
        response = RunPage(request);
    } else if (head.method == "POST") {
        return Simple("405 Method Not Allowed", "Static files take no POST.");
    } else {
        if (!ReadFileBytes(file, response.body)) return Simple("403 Forbidden", "The file cannot be read.");
        response.contentType = std::string(ContentTypeForPath(urlPath));
    }
    response.headOnly = isHead;
    return response;
}

HttpResponse HttpServer::RunPage(PageRequest& request) {
    std::string source;
    if (!ReadFileBytes(request.physicalPath, source)) return Simple("403 Forbidden", "The page cannot be read.");
    const CompiledPage compiled = CompilePage(source, [](unsigned codePage) { return IsValidCodePage(codePage) != 0; });
    ScriptError error;
    auto state = std::make_shared<PageState>();
    if (compiled.codePage) state->response.codePage = compiled.codePage;
    if (compiled.error.empty()) {
        state->request = std::move(request);
        pool_.Run([&](PageRunner& runner) {
            try {
                error = runner.Run(compiled, state);
            } catch (...) {  // out of memory: this page fails, the host goes on
                error.failed = true;
                error.code = E_OUTOFMEMORY;
                error.description = L"The page host ran out of memory";
                error.source = L"Page host";
            }
        });
        request = std::move(state->request);
    } else {
        error.failed = true;
        error.code = E_FAIL;
        error.description = Widen(compiled.error, CP_UTF8);
        error.source = L"Page compiler";
        error.pageLine = compiled.errorLine;
    }

    HttpResponse response;
    if (error.failed) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(error.code));
        const std::string where = request.scriptName + ", line " + std::to_string(error.pageLine);
        Log("script error in " + where + ": " + Utf8(error.source) + ": " + Utf8(error.description) + " (" + code + ")");
        response.status = "500 Internal Server Error";
        response.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Script error</title></head><body>\n"
                        "<h1>Script error</h1>\n<p class=\"source\">" + HtmlEscape(Utf8(error.source)) + " (" + code +
                        ")</p>\n<p class=\"description\">" + HtmlEscape(Utf8(error.description)) +
                        "</p>\n<p class=\"where\">" + HtmlEscape(where) + "</p>\n</body></html>\n";
        return response;
    }
    PageResponse& page = state->response;
    response.status = page.status;
    response.contentType = ContentTypeHeader(page);
    response.headers = std::move(page.headers);
    response.body = std::move(page.body);
    return response;
}

}  // namespace pagehost
