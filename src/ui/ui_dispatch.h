// UiDispatcher: the one entry for every string the page posts. JavaScript error reports are
// only logged; everything else is a command whose "action" picks a handler. Fields are found by
// plain text search in the compact JSON the page sends, never by a parser. Replies go back
// through the page host.
//
// UI thread only (the page host's message action).
#pragma once

#include <string>

namespace quillon {

class PathMonitor;
class WebViewHost;

// The text after the first `"key":"` up to the next double quote; empty when the pattern is
// missing or not closed. Nothing is unescaped.
std::string ExtractStringField(const std::string& message, const std::string& key);

class UiDispatcher {
public:
    UiDispatcher(WebViewHost& host, PathMonitor& monitor) : host_(host), monitor_(monitor) {}

    void HandleUiMessage(const std::string& message);
    void DispatchUiAction(const std::string& message);

private:
    WebViewHost& host_;
    PathMonitor& monitor_;
};

}  // namespace quillon
