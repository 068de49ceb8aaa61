#include "ui/ui_dispatch.h"

#include "base/json_value.h"
#include "base/log.h"
#include "path/path_monitor.h"
#include "ui/gateway_bridge.h"
#include "ui/history_bridge.h"
#include "ui/service_bridge.h"
#include "ui/update_bridge.h"
#include "ui/webview_host.h"

namespace quillon {

namespace {

// Like ExtractStringField, but tells a missing or unclosed field from an empty one.
bool FindStringField(const std::string& message, const std::string& key, std::string* value) {
    const std::string pattern = "\"" + key + "\":\"";
    const size_t at = message.find(pattern);
    if (at == std::string::npos) return false;
    const size_t open = at + pattern.size() - 1;
    size_t end = open + 1;
    while (end < message.size() && message[end] != '"') end += message[end] == '\\' ? 2 : 1;
    if (end >= message.size()) return false;
    try {
        const JsonValue text =
            JsonValue::parse(std::string_view(message).substr(open, end - open + 1));
        if (text.type() != JsonType::String) return false;
        *value = text.asString();
    } catch (const std::exception&) {
        return false;  // a broken \u escape
    }
    return true;
}

}  // namespace

std::string ExtractStringField(const std::string& message, const std::string& key) {
    std::string value;
    FindStringField(message, key, &value);
    return value;
}

void UiDispatcher::HandleUiMessage(const std::string& message) {
    if (message.find("\"type\":\"jsError\"") != std::string::npos) {
        std::string text = "Unknown error";
        std::string context = "unknown";
        FindStringField(message, "message", &text);
        FindStringField(message, "context", &context);
        LogWrite(Error, "JavaScript error [%s]: %s", context.c_str(), text.c_str());
        LogWrite(Debug, "Full JS error: %s", message.c_str());
        return;
    }
    LogWrite(Debug, "Message from React: %s", message.c_str());
    DispatchUiAction(message);
}

void UiDispatcher::DispatchUiAction(const std::string& message) {
    const std::string action = ExtractStringField(message, "action");
    if (action == "triggerRefresh") {
        monitor_.Discovery().ResetPathDiscovery();
        host_.PostJson(monitor_.StateBuilder().BuildNetworkState());
        return;
    }
    if (services_ != nullptr && action == "saveEndpoint") {
        services_->SaveEndpoint(message);
        return;
    }
    if (services_ != nullptr && action == "deleteEndpoint") {
        services_->DeleteEndpoint(ExtractStringField(message, "id"));
        return;
    }
    if (updates_ != nullptr && action == "dismiss_update") {
        updates_->Dismiss(ExtractStringField(message, "version"));
        return;
    }
    if (updates_ != nullptr && action == "download_update") {
        updates_->Download();
        return;
    }
    if (history_ != nullptr && action == "get_history") {
        history_->RequestHistory(ExtractStringField(message, "period"));
        return;
    }
    if (history_ != nullptr && action == "export_history") {
        history_->RequestExport(ExtractStringField(message, "period"),
                                ExtractStringField(message, "format"));
        return;
    }
    if (gateway_ != nullptr && (action == "unifi_login" || action == "unifi_mfa" ||
                                action == "unifi_check_session" || action == "unifi_forget")) {
        gateway_->Request(
            {action, ExtractStringField(message, "host"), ExtractStringField(message, "username"),
             ExtractStringField(message, "password"), ExtractStringField(message, "totpCode")});
        return;
    }
    LogWrite(Debug, "Unhandled WebView action: %s", action.c_str());
}

void UiDispatcher::PageArrived() {
    if (services_ != nullptr) services_->PushServiceList();
    if (updates_ != nullptr) updates_->PageArrived();
}

void UiDispatcher::UpdateNotice() {
    if (updates_ != nullptr) updates_->Notice();
}

}  // namespace quillon
