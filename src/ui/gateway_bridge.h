// GatewayBridge: the page's sign-in to the home gateway. "unifi_login" signs in with a user name
// and password, "unifi_mfa" with a one-time code as well, "unifi_check_session" asks whether the
// saved session still holds, and "unifi_forget" removes the saved sign-ins. A successful
// sign-in is saved (the password protected for this user) so the session can be checked later.
// The gateway may be slow or gone, so the requests run on one worker, in the order they came,
// never on the UI thread; each gets one reply. The password is never logged and never sent back
// to the page.
//
// Requests: UI thread. The worker posts its replies through the page host, which must outlive
// the bridge; Stop ends the worker early at shutdown.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "gateway/gateway_client.h"
#include "gateway/gateway_credentials.h"

namespace quillon {

class Files;
class Http;
class NetInfo;
class Secrets;
class Threads;
class WebViewHost;

struct GatewayPorts {
    Http& http;
    NetInfo& netInfo;
    Files& files;
    Secrets* secrets;
    Threads& threads;
};

struct GatewayCommand {
    std::string action;  // "unifi_login", "unifi_mfa", "unifi_check_session", "unifi_forget"
    std::string host;
    std::string username;
    std::string password;
    std::string totpCode;
};

class GatewayBridge {
public:
    // `credentialsPath`: the saved sign-ins' file; empty keeps nothing.
    GatewayBridge(WebViewHost& host, GatewayPorts ports, std::string credentialsPath);
    ~GatewayBridge();  // waits for the worker
    GatewayBridge(const GatewayBridge&) = delete;
    GatewayBridge& operator=(const GatewayBridge&) = delete;

    void Request(GatewayCommand command);

    // Shutdown: waiting requests are dropped. False when the request in hand did not end within
    // `bound`; the bridge must then not be destroyed.
    bool Stop(std::chrono::milliseconds bound);

    // The reply to one command (the worker's step, run inline by tests).
    std::string Handle(const GatewayCommand& command);

private:
    std::string Login(const GatewayCommand& command);
    std::string LoginWithCode(const GatewayCommand& command);
    std::string CheckSession();
    std::string Forget();
    // Saves the signed-in session; whether the gateway's certificate differs from the one seen
    // at the previous sign-in.
    bool SaveSignIn(const GatewayCommand& command, const std::string& host);
    std::string GatewayMacFor(const std::string& host);
    void Work();

    WebViewHost& host_;
    GatewayPorts ports_;
    GatewayCredentialStore store_;
    GatewayClient client_;  // the worker's alone

    std::mutex mutex_;
    std::condition_variable idle_;
    std::deque<GatewayCommand> waiting_;
    bool running_ = false;
    bool stopping_ = false;
};

}  // namespace quillon
