// UiDispatcher: the one entry for every string the page posts. JavaScript error reports are
// only logged; everything else is a command whose "action" picks a handler. Fields are found by
// plain text search in the compact JSON the page sends (`"key":"`), and their values decoded as
// the JSON strings they are. Replies go back through the page host.
//
// UI thread only (the page host's message action).
#pragma once

#include <string>

namespace quillon {

class GatewayBridge;
class HistoryBridge;
class PathMonitor;
class ServiceBridge;
class UpdateBridge;
class WebViewHost;

// The JSON string after the first `"key":"`, decoded (a quote or backslash in it arrives
// intact); empty when the pattern is missing or the string is not closed.
std::string ExtractStringField(const std::string& message, const std::string& key);

class UiDispatcher {
public:
    // `services`, `updates`, `history` and `gateway` may be null where those services are not
    // available.
    UiDispatcher(WebViewHost& host, PathMonitor& monitor, ServiceBridge* services = nullptr,
                 UpdateBridge* updates = nullptr, HistoryBridge* history = nullptr,
                 GatewayBridge* gateway = nullptr)
        : host_(host),
          monitor_(monitor),
          services_(services),
          updates_(updates),
          history_(history),
          gateway_(gateway) {}

    void HandleUiMessage(const std::string& message);
    void DispatchUiAction(const std::string& message);
    // A page connected: it is told what it cannot ask for (the monitored services, an update
    // offer still to be shown).
    void PageArrived();
    // Shows the update notice when an offer is to be shown and it has not been yet.
    void UpdateNotice();

private:
    WebViewHost& host_;
    PathMonitor& monitor_;
    ServiceBridge* services_;
    UpdateBridge* updates_;
    HistoryBridge* history_;
    GatewayBridge* gateway_;
};

}  // namespace quillon
