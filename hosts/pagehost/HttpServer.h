#pragma once
// The HTTP/1.1 side of the page host: listens on 127.0.0.1, reads each
// request's head on a thread of its own, serves static files from the site
// directory and hands .asp pages to the workers as soon as the head is in;
// a page reads the body from the connection as it arrives (BodyStream), and
// what it leaves is drained or cut off after the answer. One request per
// connection. Nothing here fails a caller: every failure of
// a connection or a page becomes the HTTP answer to it and a log line.
#include <winsock2.h>  // before <windows.h>, which WorkerPool.h brings

#include "hosts/pagehost/BodyStream.h"
#include "hosts/pagehost/WorkerPool.h"

#include <atomic>
#include <memory>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace pagehost {

struct ServerOptions {
    int port = 8080;
    std::wstring siteRoot;                     // Windows path, no trailing separator
    // Larger bodies are answered 413. By default the largest that TotalBytes
    // (a long) can count.
    uint64_t maxBodyBytes = 0x7FFFFFFF;
    // A page waiting for a slow client's body holds its worker: eight let a
    // request through beside six stalled uploads (and one more page).
    int workers = 8;
    int maxConnections = 64;
    // How long the host waits for more of a request before it closes the
    // connection: each wait for body bytes, and the whole head.
    int readTimeoutSeconds = 60;
    bool diagnostics = false;                  // answer GET /_pagehost/stats
    std::wstring portFile;                     // where to write the bound port, if set
};

struct HttpResponse {
    std::string status = "200 OK";
    std::string contentType = "text/html; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool headOnly = false;
};

class HttpServer {
public:
    explicit HttpServer(ServerOptions options);
    ~HttpServer();

    // Serves until Stop; false when the port cannot be opened.
    bool Run();
    void Stop();

private:
    SOCKET Listen() const;
    void WaitForConnectionSlot();
    void StartConnection(SOCKET client, std::string remote);
    void EndConnection(SOCKET client);
    // Reads one request from the connection and answers it.
    void Serve(SOCKET client, std::string remote);
    HttpResponse Handle(PageRequest& request, BodyStream& body);
    HttpResponse Stats();
    HttpResponse RunPage(PageRequest& request, BodyStream& body);
    ScriptError RunOnWorker(const CompiledPage& compiled, const std::shared_ptr<PageState>& state, BodyStream& body);
    void FinishBody(SOCKET client, const PageRequest& request, BodyStream& body) const;
    void LogBrokenBody(const PageRequest& request, const BodyStream& body) const;

    ServerOptions options_;
    WorkerPool pool_;
    std::atomic<SOCKET> listener_{INVALID_SOCKET};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable idle_;
    int connections_ = 0;
    std::atomic<uint64_t> requests_{0};  // requests answered
};

}  // namespace pagehost
