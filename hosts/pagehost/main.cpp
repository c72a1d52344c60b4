// pagehost: serves a site directory over HTTP on 127.0.0.1, running its .asp
// pages as VBScript with Request, Response and Server, so that a browser or
// curl can post to a page that uses the upload component.
//
//   pagehost [--port N] [--site DIR] [--max-body BYTES] [--workers N]
//            [--temp DIR] [--port-file FILE] [--read-timeout SECONDS]
//            [--diagnostics]
//
// --port 0 picks a free port; --port-file receives the port once listening.
// --max-body lowers the body limit (default 2^31 - 1 bytes, the most that
// Request.TotalBytes can count); --workers sets how many pages run at once
// (default 8, at most 64): a page holds its worker while its body arrives.
// --read-timeout bounds the whole request head and each wait for body bytes
// (default 60 s); a connection that stalls longer is closed.
// --diagnostics answers GET /_pagehost/stats with the host's memory, handle,
// connection and request counts as JSON.
// --temp sets TMP (and TEMP) for this process, where components put their
// temporary files.
#include "hosts/pagehost/HttpServer.h"

#include "hosts/HostFiles.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

pagehost::HttpServer* g_server = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    if (g_server) g_server->Stop();
    return TRUE;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: pagehost [--port N] [--site DIR] [--max-body BYTES] [--workers N] [--temp DIR] [--port-file FILE]\n"
                 "                [--read-timeout SECONDS] [--diagnostics]\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    pagehost::ServerOptions options;
    options.siteRoot = L".";
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--diagnostics") {
            options.diagnostics = true;
            continue;
        }
        if (i + 1 >= argc) return Usage();
        const std::wstring value = argv[++i];
        wchar_t* end = nullptr;
        if (arg == L"--port") {
            const long port = std::wcstol(value.c_str(), &end, 10);
            if (*end || port < 0 || port > 65535) return Usage();
            options.port = static_cast<int>(port);
        } else if (arg == L"--site") {
            options.siteRoot = value;
        } else if (arg == L"--max-body") {
            const unsigned long long bytes = std::wcstoull(value.c_str(), &end, 10);
            if (*end || bytes > 0x7FFFFFFFull) return Usage();  // TotalBytes is a 32-bit count
            options.maxBodyBytes = bytes;
        } else if (arg == L"--workers") {
            const long workers = std::wcstol(value.c_str(), &end, 10);
            if (*end || workers < 1 || workers > 64) return Usage();
            options.workers = static_cast<int>(workers);
        } else if (arg == L"--read-timeout") {
            const long seconds = std::wcstol(value.c_str(), &end, 10);
            if (*end || seconds < 1 || seconds > 86400) return Usage();
            options.readTimeoutSeconds = static_cast<int>(seconds);
        } else if (arg == L"--temp") {
            SetTemporaryDirectory(FullPath(value));
        } else if (arg == L"--port-file") {
            options.portFile = value;
        } else {
            return Usage();
        }
    }
    options.siteRoot = FullPath(options.siteRoot);
    const DWORD attributes = GetFileAttributesW(options.siteRoot.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fwprintf(stderr, L"pagehost: no site directory %ls\n", options.siteRoot.c_str());
        return 2;
    }

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
    int status = 0;
    {
        pagehost::HttpServer server(options);
        g_server = &server;
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
        if (!server.Run()) status = 1;
        g_server = nullptr;
    }
    WSACleanup();
    std::fprintf(stderr, "pagehost: stopped\n");
    return status;
}
