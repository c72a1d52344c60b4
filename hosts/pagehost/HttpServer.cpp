#include "hosts/pagehost/HttpServer.h"

#include "hosts/pagehost/Diagnostics.h"
#include "hosts/pagehost/Text.h"

#include "com/Failure.h"
#include "hosts/HostFiles.h"

#include <ws2tcpip.h>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace qor;

namespace pagehost {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr DWORD kSendTimeoutMs = 60'000;
// The most of a body that a page left unread which the host still reads to
// its end after the answer (rather than cut the connection).
constexpr uint64_t kMaxBodyDrained = 16ull << 20;

void SendResponse(SOCKET s, const HttpResponse& response) {
    std::string head = "HTTP/1.1 " + response.status + "\r\n";
    head += "Server: QORUpload-PageHost\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    // Nothing is cached unless the page says otherwise with its own header.
    bool pageCacheControl = false;
    for (const auto& [name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
        pageCacheControl = pageCacheControl || _stricmp(name.c_str(), "Cache-Control") == 0;
    }
    if (!pageCacheControl) head += "Cache-Control: no-store\r\n";
    head += "Connection: close\r\n\r\n";
    if (!SendAll(s, head.data(), head.size())) return;
    if (!response.headOnly) SendAll(s, response.body.data(), response.body.size());
}

HttpResponse StatusPage(const char* status, const std::string& detail) {
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

constexpr std::string_view kStatsPath = "/_pagehost/stats";

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

// Receives wait through select (ReceiveWithin); the receive timeout only
// backs that up.
void SetSocketTimeouts(SOCKET s, milliseconds readTimeout) {
    const DWORD receiveMs = static_cast<DWORD>(readTimeout.count());
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receiveMs), sizeof receiveMs);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&kSendTimeoutMs), sizeof kSendTimeoutMs);
}

// The port the connection came in on, as the page's SERVER_PORT.
int LocalPort(SOCKET s, int fallback) {
    sockaddr_in local{};
    int length = sizeof local;
    return getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) == 0 ? ntohs(local.sin_port) : fallback;
}

// Reads until the blank line that ends the head, all of it within
// `timeout`, so that a client dribbling bytes cannot hold the connection;
// `buffer` keeps what came after the head, the start of the body.
Received ReceiveHead(SOCKET client, milliseconds timeout, std::string& buffer, size_t& headEnd) {
    const auto deadline = Clock::now() + timeout;
    char chunk[65536];
    while ((headEnd = FindHeadEnd(buffer)) == 0) {
        if (buffer.size() > kMaxHeadBytes) return Received::TooLarge;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        int n = 0;
        if (left.count() <= 0) return Received::TimedOut;
        if (const Received got = ReceiveWithin(client, chunk, sizeof chunk, left, n); got != Received::Complete)
            return got;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    // A head may arrive whole in the same receive that passes the limit.
    return headEnd > kMaxHeadBytes ? Received::TooLarge : Received::Complete;
}

// The body's length from the head; a body needs a Content-Length within the
// limit. Otherwise `refusal` is the answer and the result false.
bool AcceptBodyLength(const HttpRequestHead& head, uint64_t limit, uint64_t& length, HttpResponse& refusal) {
    const std::string* lengthField = head.Header("Content-Length");
    const bool wantsBody = head.method == "POST" || head.method == "PUT";
    if (head.Header("Transfer-Encoding") || (wantsBody && !lengthField)) {
        refusal = StatusPage("411 Length Required", "A request body needs a Content-Length.");
        return false;
    }
    const auto parsed = lengthField ? ParseContentLength(*lengthField) : std::optional<uint64_t>(0);
    if (!parsed) {
        refusal = StatusPage("400 Bad Request", "The Content-Length is not a number.");
        return false;
    }
    if (*parsed > limit) {
        refusal = StatusPage("413 Content Too Large", "The request body is larger than " + std::to_string(limit) + " bytes.");
        return false;
    }
    length = *parsed;
    return true;
}

std::string ElapsedMs(std::chrono::steady_clock::time_point started) {
    const auto elapsed = std::chrono::steady_clock::now() - started;
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

// One connection's exchange: its socket, the request read from it, its
// body once the head has been accepted, and when it began, for the log.
struct Exchange {
    SOCKET client;
    PageRequest& request;
    std::atomic<uint64_t>& answered;
    const BodyStream* body = nullptr;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

    // Sends the answer (closing gently after an early one) and logs the exchange.
    void Answer(const HttpResponse& response, bool early) {
        ++answered;
        SendResponse(client, response);
        if (early) CloseGently(client);
        const HttpRequestHead& head = request.head;
        Log(head.method + " " + head.target + " " + response.status.substr(0, 3) + " " +
            std::to_string(body ? body->Taken() : 0) + " bytes in, " + std::to_string(response.body.size()) + " out, " +
            ElapsedMs(started) + " ms");
    }
};

// The answer to a page whose script failed, and the log line that records it.
HttpResponse ScriptErrorPage(const ScriptError& error, const std::string& scriptName) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(error.code));
    const std::string where = scriptName + ", line " + std::to_string(error.pageLine);
    Log("script error in " + where + ": " + Utf8(error.source) + ": " + Utf8(error.description) + " (" + code + ")");
    HttpResponse response;
    response.status = "500 Internal Server Error";
    response.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Script error</title></head><body>\n"
                    "<h1>Script error</h1>\n<p class=\"source\">" + HtmlEscape(Utf8(error.source)) + " (" + code +
                    ")</p>\n<p class=\"description\">" + HtmlEscape(Utf8(error.description)) +
                    "</p>\n<p class=\"where\">" + HtmlEscape(where) + "</p>\n</body></html>\n";
    return response;
}

ScriptError CompileError(const CompiledPage& compiled) {
    ScriptError error;
    error.failed = true;
    error.code = E_FAIL;
    error.description = Widen(compiled.error, CP_UTF8);
    error.source = L"Page compiler";
    error.pageLine = compiled.errorLine;
    return error;
}

// What the page built, as the answer.
HttpResponse PageAnswer(PageResponse& page) {
    HttpResponse response;
    response.status = page.status;
    response.contentType = ContentTypeHeader(page);
    response.headers = std::move(page.headers);
    response.body = std::move(page.body);
    return response;
}

void WritePortFile(const std::wstring& path, int port) {
    if (path.empty()) return;
    if (UniqueFile file{_wfopen(path.c_str(), L"wb")}) std::fprintf(file.get(), "%d\n", port);
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
    const SOCKET s = Listen();
    if (s == INVALID_SOCKET) return false;
    sockaddr_in address{};
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    const int port = ntohs(address.sin_port);
    listener_ = s;
    WritePortFile(options_.portFile, port);
    std::printf("pagehost: serving %s on http://127.0.0.1:%d/\n", Utf8(options_.siteRoot).c_str(), port);
    std::fflush(stdout);

    while (!stopping_) {
        WaitForConnectionSlot();
        sockaddr_in peer{};
        int peerLength = sizeof peer;
        const SOCKET client = accept(s, reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (client == INVALID_SOCKET) continue;  // the loop ends when stopping
        char remote[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &peer.sin_addr, remote, sizeof remote);
        StartConnection(client, remote);
    }
    return true;
}

// A socket listening on 127.0.0.1 at the configured port, or INVALID_SOCKET.
SOCKET HttpServer::Listen() const {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(options_.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(s, 64) == 0) return s;
    Log("pagehost: cannot listen on 127.0.0.1:" + std::to_string(options_.port) + " (error " +
        std::to_string(WSAGetLastError()) + ")");
    closesocket(s);
    return INVALID_SOCKET;
}

void HttpServer::WaitForConnectionSlot() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return connections_ < options_.maxConnections; });
}

// Serves the connection on a thread of its own; the connection is counted
// until that thread is done with it.
void HttpServer::StartConnection(SOCKET client, std::string remote) {
    {
        std::lock_guard lock(mutex_);
        ++connections_;
    }
    try {
        std::thread([this, client, remote = std::move(remote)] {
            try {
                Serve(client, remote);
            } catch (...) {  // out of memory: this connection is dropped, the host goes on
            }
            EndConnection(client);
        }).detach();
    } catch (...) {  // no thread to be had: drop this connection
        EndConnection(client);
    }
}

void HttpServer::EndConnection(SOCKET client) {
    closesocket(client);
    std::lock_guard lock(mutex_);
    --connections_;
    idle_.notify_all();
}

void HttpServer::Serve(SOCKET client, std::string remote) {
    const milliseconds timeout = std::chrono::seconds(options_.readTimeoutSeconds);
    SetSocketTimeouts(client, timeout);
    std::string buffer;
    size_t headEnd = 0;
    switch (ReceiveHead(client, timeout, buffer, headEnd)) {
    case Received::Closed:
        return;
    case Received::TimedOut:
        Log(remote + ": no whole request head within " + std::to_string(options_.readTimeoutSeconds) + " s (" +
            std::to_string(buffer.size()) + " bytes came); connection closed");
        return;
    case Received::TooLarge:
        SendResponse(client, StatusPage("431 Request Header Fields Too Large", "The request head is too large."));
        return CloseGently(client);
    case Received::Complete:
        break;
    }

    PageRequest request;
    request.remoteAddress = std::move(remote);
    request.serverPort = LocalPort(client, options_.port);
    request.siteRoot = options_.siteRoot;
    Exchange exchange{client, request, requests_};
    if (!ParseRequestHead(std::string_view(buffer).substr(0, headEnd), request.head))
        return exchange.Answer(StatusPage("400 Bad Request", "The request is malformed."), true);
    uint64_t length = 0;
    HttpResponse refusal;
    if (!AcceptBodyLength(request.head, options_.maxBodyBytes, length, refusal)) return exchange.Answer(refusal, true);
    request.contentLength = length;

    // The page runs now; its BinaryRead takes the body from the connection
    // as it comes. What came after the head starts the body.
    const std::string* expect = request.head.Header("Expect");
    BodyStream body(client, length, buffer.substr(headEnd), timeout, expect && EqualsIgnoreCase(*expect, "100-continue"));
    buffer = std::string();
    exchange.body = &body;
    const HttpResponse response = Handle(request, body);
    // A connection that broke under the page gets no answer.
    if (FAILED(body.Failure())) return LogBrokenBody(request, body);
    exchange.Answer(response, false);
    FinishBody(client, request, body);
}

// What the page left of the body: a client still waiting for "100 Continue"
// has sent none, and a large rest takes longer to read than to cut off (the
// answer is out, and CloseGently gives it time to arrive). A small rest is
// read, so that closing does not reset a connection with unread bytes.
void HttpServer::FinishBody(SOCKET client, const PageRequest& request, BodyStream& body) const {
    if (body.Left() == 0) return;
    if (body.ContinueOwed() || body.Left() > kMaxBodyDrained) return CloseGently(client);
    if (FAILED(body.Drain())) LogBrokenBody(request, body);
}

void HttpServer::LogBrokenBody(const PageRequest& request, const BodyStream& body) const {
    const std::string how = body.Failure() == kBodyTimedOut
                                ? "then nothing for " + std::to_string(options_.readTimeoutSeconds) + " s; connection closed"
                                : "stopped";
    Log(request.head.method + " " + request.head.target + ": the client sent " + std::to_string(body.Taken()) + " of " +
        std::to_string(body.Length()) + " bytes and " + how);
}

HttpResponse HttpServer::Handle(PageRequest& request, BodyStream& body) {
    const HttpRequestHead& head = request.head;
    const bool isHead = head.method == "HEAD";
    if (options_.diagnostics && head.method == "GET" && head.path == kStatsPath) return Stats();
    if (head.method != "GET" && !isHead && head.method != "POST")
        return StatusPage("405 Method Not Allowed", "Only GET, HEAD and POST are served.");
    const auto relative = SiteRelativePath(head.path);
    if (!relative) return StatusPage("400 Bad Request", "The path is not within the site.");

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
        return StatusPage("404 Not Found", "There is no " + urlPath + " on this site.");

    request.scriptName = urlPath;
    request.physicalPath = file;
    HttpResponse response;
    if (EndsWithIgnoreCase(urlPath, ".asp")) {
        response = RunPage(request, body);
    } else if (head.method == "POST") {
        return StatusPage("405 Method Not Allowed", "Static files take no POST.");
    } else {
        if (!SUCCEEDED(ReadWholeFile(file, response.body))) return StatusPage("403 Forbidden", "The file cannot be read.");
        response.contentType = std::string(ContentTypeForPath(urlPath));
    }
    response.headOnly = isHead;
    return response;
}

// The host's own counters; the connection asking is not counted, nor (not
// yet answered) its request.
HttpResponse HttpServer::Stats() {
    int others = 0;
    {
        std::lock_guard lock(mutex_);
        others = connections_ - 1;
    }
    HttpResponse response;
    response.contentType = "application/json";
    response.body = DiagnosticsJson(ReadProcessCounters(), others, requests_.load());
    return response;
}

HttpResponse HttpServer::RunPage(PageRequest& request, BodyStream& body) {
    std::string source;
    if (FAILED(ReadWholeFile(request.physicalPath, source))) return StatusPage("403 Forbidden", "The page cannot be read.");
    const CompiledPage compiled = CompilePage(source, [](unsigned codePage) { return IsValidCodePage(codePage) != 0; });
    if (!compiled.error.empty()) return ScriptErrorPage(CompileError(compiled), request.scriptName);
    auto state = std::make_shared<PageState>();
    if (compiled.codePage) state->response.codePage = compiled.codePage;
    state->request = std::move(request);
    const ScriptError error = RunOnWorker(compiled, state, body);
    request = std::move(state->request);
    return error.failed ? ScriptErrorPage(error, request.scriptName) : PageAnswer(state->response);
}

// Runs the page on the next free worker; the host itself failing (out of
// memory) fails this page only.
ScriptError HttpServer::RunOnWorker(const CompiledPage& compiled, const std::shared_ptr<PageState>& state,
                                     BodyStream& body) {
    ScriptError error;
    pool_.Run([&](PageRunner& runner) {
        state->body = &body;
        const HRESULT hr = qor::CallBoundary([&] {
            error = runner.Run(compiled, state);
            return S_OK;
        });
        state->body = nullptr;
        if (FAILED(hr)) {
            error.failed = true;
            error.code = hr;
            error.description = hr == E_OUTOFMEMORY ? L"The page host ran out of memory" : L"The page host failed";
            error.source = L"Page host";
        }
    });
    return error;
}

}  // namespace pagehost
