// PageBridge: the HTTP server on loopback through which a browser shows the application's page
// in headless mode. It owns the listening socket, its server threads, the per-run access token
// and the open event streams. It serves the files of the ui folder, streams every posted JSON
// text to each connected page (GET /bridge/events, Server-Sent Events) and hands what a page
// posts (POST /bridge/message) to its sink. The protocol is written up in docs/bridge.md.
//
// The headless shell owns one and calls Start, Post and Stop from its loop thread; Post may be
// called from any thread. The sink is called on the server's threads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace quillon::lnx {

class PageBridgeSink {
public:
    virtual ~PageBridgeSink() = default;
    virtual void OnStreamOpened() = 0;  // a page opened its event stream
    virtual void OnStreamClosed() = 0;  // an event stream ended (page gone, or the bridge stops)
    virtual void OnPageMessage(std::string text) = 0;
};

struct PageBridgeOptions {
    std::string listenAddress = "127.0.0.1";  // a loopback address, or localhost
    uint16_t port = 0;                        // 0 picks a free port
    std::filesystem::path uiFolder;           // the only folder files are served from
};

class PageBridge {
public:
    PageBridge(PageBridgeOptions options, PageBridgeSink& sink);
    ~PageBridge();  // stops first

    PageBridge(const PageBridge&) = delete;
    PageBridge& operator=(const PageBridge&) = delete;

    // Binds the address and serves on threads of its own. False, with the reason in *error, when
    // the address is not loopback, the port is taken or the ui folder does not exist.
    bool Start(std::string* error);
    // Ends every event stream and joins the server threads; open streams end within ~0.1 s and
    // idle keep-alive connections within ~1 s. Safe to call twice. Not from a server thread.
    void Stop();

    // Queues one JSON text for every open event stream; nothing is kept for later pages.
    void Post(std::string_view json);

    uint16_t Port() const;
    const std::string& Token() const;
    // The address to open in a browser, token included: "http://127.0.0.1:PORT/?token=...".
    std::string PageAddress() const;
    // Event streams open now.
    int StreamCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillon::lnx
