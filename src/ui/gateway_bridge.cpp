#include "ui/gateway_bridge.h"

#include <cctype>

#include "base/log.h"
#include "discovery/adapter_discovery.h"
#include "path/json_text.h"
#include "platform/threads.h"
#include "ui/webview_host.h"

namespace quillon {

namespace {

// Sign-in requests waiting beyond this many are the page repeating itself: the oldest go.
constexpr size_t kMaxWaiting = 8;

std::string Failure(const char* type, const char* error) {
    JsonText w;
    w.BeginObject().Member("type", type).Member("success", false).Member("error", error);
    return w.EndObject().Take();
}

std::string Success(const char* type, bool withMfaMember, bool certificateChanged) {
    JsonText w;
    w.BeginObject().Member("type", type).Member("success", true);
    if (withMfaMember) w.Member("requiresMfa", false);
    if (certificateChanged) w.Member("certificateChanged", true);
    return w.EndObject().Take();
}

std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

GatewayBridge::GatewayBridge(WebViewHost& host, GatewayPorts ports, std::string credentialsPath)
    : host_(host),
      ports_(ports),
      store_(std::move(credentialsPath), ports.files, ports.secrets),
      client_(ports.http) {}

GatewayBridge::~GatewayBridge() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    waiting_.clear();
    idle_.wait(lock, [this] { return !running_; });
}

void GatewayBridge::Request(GatewayCommand command) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (waiting_.size() >= kMaxWaiting) waiting_.pop_front();
        waiting_.push_back(std::move(command));
        if (running_) return;  // the worker takes it when it is done
        running_ = true;
    }
    if (!ports_.threads.StartDetached([this] { Work(); })) {
        LogWrite(Error, "Gateway: no worker could be started");
        std::lock_guard lock(mutex_);
        running_ = false;
        waiting_.clear();
        idle_.notify_all();
    }
}

bool GatewayBridge::Stop(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    waiting_.clear();
    return idle_.wait_for(lock, bound, [this] { return !running_; });
}

void GatewayBridge::Work() {
    while (true) {
        GatewayCommand command;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || waiting_.empty()) {
                running_ = false;
                idle_.notify_all();
                return;
            }
            command = std::move(waiting_.front());
            waiting_.pop_front();
        }
        std::string reply = Handle(command);
        std::lock_guard lock(mutex_);
        if (!stopping_ && !reply.empty()) host_.PostJsonFromAnyThread(std::move(reply));
    }
}

std::string GatewayBridge::Handle(const GatewayCommand& command) {
    if (command.action == "unifi_login") return Login(command);
    if (command.action == "unifi_mfa") return LoginWithCode(command);
    if (command.action == "unifi_check_session") return CheckSession();
    if (command.action == "unifi_forget") return Forget();
    return {};
}

std::string GatewayBridge::Login(const GatewayCommand& command) {
    constexpr const char* kType = "unifiLoginResult";
    LogWrite(Info, "UniFi login attempt for host: %s, user: %s", command.host.c_str(),
             command.username.c_str());
    std::string host = command.host;
    if (host.empty()) host = DiscoverPrimaryAdapter(ports_.netInfo).gatewayIp;
    if (host.empty()) return Failure(kType, "No gateway found");
    if (!client_.Connect(host)) return Failure(kType, "Failed to connect to gateway");

    switch (client_.Login(command.username, command.password, {})) {
        case GatewayLogin::Success: {
            LogWrite(Info, "UniFi login successful");
            return Success(kType, true, SaveSignIn(command, host));
        }
        case GatewayLogin::BadCredentials:
            LogWrite(Warn, "UniFi login failed: bad credentials");
            return Failure(kType, "Invalid username or password");
        case GatewayLogin::CodeRequired: {
            LogWrite(Info, "UniFi login requires MFA");
            JsonText w;
            w.BeginObject().Member("type", kType).Member("success", false);
            return w.Member("requiresMfa", true).EndObject().Take();
        }
        case GatewayLogin::NetworkError:
            LogWrite(Error, "UniFi login failed: network error");
            return Failure(kType, "Network error - check connection");
        case GatewayLogin::Locked:
            LogWrite(Warn, "UniFi login failed: too many attempts");
            return Failure(kType, "Too many sign-in attempts - the gateway refuses for a while");
        case GatewayLogin::TooLong:
            LogWrite(Warn, "UniFi login failed: user name or password too long");
            return Failure(kType, "Username or password too long");
        case GatewayLogin::Failed:
            break;
    }
    LogWrite(Error, "UniFi login failed: unknown error");
    return Failure(kType, "Login failed");
}

std::string GatewayBridge::LoginWithCode(const GatewayCommand& command) {
    constexpr const char* kType = "unifiMfaResult";
    LogWrite(Info, "UniFi MFA login attempt");
    const std::string host = command.host.empty() ? client_.Host() : command.host;
    // The same gateway keeps the connection the code was asked for on.
    if (!(host == client_.Host() && client_.Connected()) && !client_.Connect(host)) {
        return Failure(kType, "Failed to connect to gateway");
    }
    const GatewayLogin result = client_.Login(command.username, command.password, command.totpCode);
    if (result == GatewayLogin::Success) {
        LogWrite(Info, "UniFi MFA login successful");
        return Success(kType, false, SaveSignIn(command, host));
    }
    LogWrite(Warn, "UniFi MFA login failed");
    if (result == GatewayLogin::NetworkError) {
        return Failure(kType, "Network error - check connection");
    }
    if (result == GatewayLogin::Locked) {
        return Failure(kType, "Too many sign-in attempts - the gateway refuses for a while");
    }
    return Failure(kType, "Invalid MFA code");
}

std::string GatewayBridge::CheckSession() {
    JsonText w;
    w.BeginObject().Member("type", "unifiSessionStatus");
    const AdapterInfo adapter = DiscoverPrimaryAdapter(ports_.netInfo);
    const CredentialMap saved = adapter.gatewayMac.empty() ? CredentialMap{} : store_.Load();
    const auto found = saved.find(adapter.gatewayMac);
    if (found == saved.end() || found->second.token.empty()) {
        return w.Member("authenticated", false).EndObject().Take();
    }
    const GatewayCredentials& record = found->second;
    bool changed = false;
    bool valid = false;
    if (!record.certificateSha256.empty()) {
        // The session token goes only to the gateway that was signed in to: a fresh connection
        // first shows the certificate, with nothing of the session sent.
        client_.Connect(record.host);
        const GatewayResponse shown = client_.Send("GET", "/api/system", {});
        changed =
            !shown.certificateSha256.empty() && shown.certificateSha256 != record.certificateSha256;
        if (!changed && shown.statusCode != 0) valid = client_.CheckSession(record);
    } else {
        if (!(client_.Connected() && client_.Host() == record.host)) client_.Connect(record.host);
        valid = client_.CheckSession(record);
    }
    if (changed) LogWrite(Warn, "UniFi gateway certificate changed since sign-in");
    // A gateway that does not answer has not refused the session: the page must not call it
    // expired.
    const bool unreachable = !valid && !changed && !client_.Answered();
    if (unreachable) LogWrite(Warn, "UniFi gateway did not answer the session check");
    w.Member("authenticated", valid)
        .Member("host", record.host)
        .Member("username", record.username);
    if (changed) w.Member("certificateChanged", true);
    if (unreachable) w.Member("reachable", false);
    return w.EndObject().Take();
}

std::string GatewayBridge::Forget() {
    const bool forgotten = store_.ForgetAll();
    client_.Connect({});  // drops the session and its tokens
    if (forgotten) LogWrite(Info, "UniFi saved sign-in forgotten");
    JsonText w;
    w.BeginObject().Member("type", "unifiForgetResult").Member("success", forgotten);
    return w.EndObject().Take();
}

bool GatewayBridge::SaveSignIn(const GatewayCommand& command, const std::string& host) {
    GatewayCredentials record;
    record.host = host;
    record.gatewayMac = GatewayMacFor(host);
    record.username = command.username;
    record.password = command.password;
    record.token = client_.Token();
    record.csrfToken = client_.CsrfToken();
    record.certificateSha256 = client_.CertificateSha256();
    const CredentialMap saved = store_.Load();
    const auto before = saved.find(record.gatewayMac);
    const bool changed = before != saved.end() && !before->second.certificateSha256.empty() &&
                         !record.certificateSha256.empty() &&
                         before->second.certificateSha256 != record.certificateSha256;
    if (record.gatewayMac.empty() || !store_.Save(record)) {
        LogWrite(Warn, "UniFi sign-in could not be saved");
    }
    return changed;
}

// The record's index: the default gateway's hardware address when signed in to it, else what
// the gateway says its own is.
std::string GatewayBridge::GatewayMacFor(const std::string& host) {
    const AdapterInfo adapter = DiscoverPrimaryAdapter(ports_.netInfo);
    if (host == adapter.gatewayIp && !adapter.gatewayMac.empty()) return adapter.gatewayMac;
    const GatewayResponse system = client_.Send("GET", "/api/system", {});
    const auto info = ReadUniFiSystem(system.body);
    return info ? UpperCase(info->mac) : std::string();
}

}  // namespace quillon
