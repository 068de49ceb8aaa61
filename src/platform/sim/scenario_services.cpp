#include "platform/sim/scenario_services.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "platform/sim/scenario_fields.h"
#include "platform/sim/sim_address.h"

namespace quillon::sim {

namespace {

constexpr double kMaxMs = 600000;
constexpr double kMaxDays = 36500;

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool IsHostName(const std::string& name) {
    if (name.empty() || name.size() > 253 || name.front() == '.' || name.back() == '.' ||
        Ipv4Address::Parse(name)) {
        return false;
    }
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// "2027-03-01" (midnight UTC) or "2027-03-01T12:30:00Z".
std::optional<int64_t> ParseUtcTime(const std::string& text) {
    int y, mo, d, h = 0, mi = 0, s = 0, used = 0;
    if (text.size() == 10) {
        if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3) return {};
    } else if (text.size() == 20) {
        if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &y, &mo, &d, &h, &mi, &s,
                        &used) != 6) {
            return {};
        }
    } else {
        return {};
    }
    using namespace std::chrono;
    const year_month_day date{year{y}, month{unsigned(mo)}, day{unsigned(d)}};
    if (used != int(text.size()) || !date.ok() || h > 23 || mi > 59 || s > 59 || text[4] != '-' ||
        text[7] != '-') {
        return {};
    }
    return int64_t(sys_days(date).time_since_epoch().count()) * 86400 + h * 3600 + mi * 60 + s;
}

class ServiceReader : public FieldReader {
public:
    bool ReadAll(const JsonValue& root, WorldConfig& world);

private:
    bool ReadHost(const JsonValue& value, const std::string& at, const WorldConfig& world,
                  ServiceHostConfig& host);
    bool ReadPort(const JsonValue& value, const std::string& at, ServiceHostConfig& host);
    bool ReadWeb(const JsonValue& value, const std::string& at, ServiceHostConfig& host);
    bool ReadTls(const JsonValue& value, const std::string& at, TlsConfig& tls);
    bool ReadTime(const JsonValue& object, const char* dateKey, const char* daysKey,
                  const std::string& at, CertificateTime& out);
};

bool ServiceReader::ReadAll(const JsonValue& root, WorldConfig& world) {
    return Each(root, "serviceHosts", "", [&](const JsonValue& value, const std::string& at) {
        ServiceHostConfig host;
        if (!ReadHost(value, at, world, host)) return false;
        for (const ServiceHostConfig& other : world.serviceHosts) {
            if (other.address == host.address) {
                return Fail(Join(at, "address"),
                            "another service host has the address " + host.address.Text());
            }
        }
        world.serviceHosts.push_back(std::move(host));
        return true;
    });
}

bool ServiceReader::ReadHost(const JsonValue& value, const std::string& at,
                             const WorldConfig& world, ServiceHostConfig& host) {
    if (!Shape(value, at,
               {"name", "address", "dnsMs", "rttMs", "jitterMs", "lossPercent", "answersEcho",
                "connectMs", "tcpPorts", "web", "tls"},
               {"address"}) ||
        !String(value, "name", at, host.name) || !Address(value, "address", at, host.address) ||
        !Number(value, "dnsMs", at, host.dnsMs, 0, kMaxMs) ||
        !Number(value, "rttMs", at, host.rttMs, 0, kMaxMs) ||
        !Number(value, "jitterMs", at, host.jitterMs, 0, kMaxMs) ||
        !Number(value, "lossPercent", at, host.lossPercent, 0, 100) ||
        !Bool(value, "answersEcho", at, host.answersEcho) ||
        !Number(value, "connectMs", at, host.connectMs, 0, kMaxMs)) {
        return false;
    }
    if (value.contains("name") && !IsHostName(host.name)) {
        return Fail(Join(at, "name"), Quoted(host.name) + " is not a host name");
    }
    if (host.address.IsZero()) return Fail(Join(at, "address"), "0.0.0.0 is not a host's address");
    // On a path the hops decide echoes and round trips; a second description would disagree.
    for (const PathConfig& path : world.paths) {
        bool onPath = path.destination == host.address;
        for (const HopConfig& hop : path.hops) onPath = onPath || hop.address == host.address;
        if (!onPath) continue;
        for (const char* key : {"rttMs", "jitterMs", "lossPercent", "answersEcho"}) {
            if (value.contains(key)) {
                return Fail(Join(at, key), "the host is on the path to " + path.destination.Text() +
                                               ", whose hops give its echoes and round trip");
            }
        }
    }
    if (!Each(value, "tcpPorts", at,
              [&](const JsonValue& item, const std::string& where) {
                  return ReadPort(item, where, host);
              }) ||
        !Each(value, "web", at, [&](const JsonValue& item, const std::string& where) {
            return ReadWeb(item, where, host);
        })) {
        return false;
    }
    if (!value.contains("tls")) return true;
    host.tls = true;
    return ReadTls(value.member("tls"), Join(at, "tls"), host.tlsConfig);
}

bool ServiceReader::ReadPort(const JsonValue& value, const std::string& at,
                             ServiceHostConfig& host) {
    TcpPortConfig port;
    if (value.type() == JsonType::Integer) {
        if (value.asInteger() < 1 || value.asInteger() > 65535) {
            return Fail(at, std::to_string(value.asInteger()) + " is not a port (1 to 65535)");
        }
        port.port = uint16_t(value.asInteger());
    } else if (value.type() == JsonType::Object) {
        if (!Shape(value, at, {"port", "connectMs"}, {"port"}) ||
            !Whole(value, "port", at, port.port, 1, 65535) ||
            !Number(value, "connectMs", at, port.connectMs, 0, kMaxMs)) {
            return false;
        }
    } else {
        return Fail(at, std::string("expected a port number or an object, found ") +
                            KindName(value.type()));
    }
    for (const TcpPortConfig& other : host.tcpPorts) {
        if (other.port == port.port) {
            return Fail(at, "port " + std::to_string(port.port) + " is listed twice");
        }
    }
    host.tcpPorts.push_back(port);
    return true;
}

bool ServiceReader::ReadWeb(const JsonValue& value, const std::string& at,
                            ServiceHostConfig& host) {
    WebResponseConfig response;
    if (!Shape(
            value, at,
            {"path", "status", "bodyBytes", "body", "firstByteMs", "transferMs", "redirectTo"}) ||
        !String(value, "path", at, response.path) ||
        !String(value, "redirectTo", at, response.location)) {
        return false;
    }
    if (!response.location.empty()) response.status = 302;
    if (!Whole(value, "status", at, response.status, 100, 599) ||
        !Whole(value, "bodyBytes", at, response.bodyBytes, 0, uint64_t(1) << 40) ||
        !String(value, "body", at, response.body) ||
        !Number(value, "firstByteMs", at, response.firstByteMs, 0, kMaxMs) ||
        !Number(value, "transferMs", at, response.transferMs, 0, kMaxMs)) {
        return false;
    }
    if (value.contains("path") && (response.path.empty() || response.path[0] != '/')) {
        return Fail(Join(at, "path"), Quoted(response.path) + " does not start with /");
    }
    if (value.contains("body") && value.contains("bodyBytes")) {
        return Fail(at, "give either \"body\" or \"bodyBytes\"");
    }
    if (value.contains("redirectTo") &&
        (response.location.empty() || response.status < 300 || response.status > 399)) {
        return Fail(Join(at, "redirectTo"),
                    response.location.empty()
                        ? "is empty"
                        : "needs a 3xx status, not " + std::to_string(response.status));
    }
    for (const WebResponseConfig& other : host.web) {
        if (other.path == response.path) {
            return Fail(at, response.path.empty() ? "a second answer for any path"
                                                  : "a second answer for " + Quoted(response.path));
        }
    }
    host.web.push_back(std::move(response));
    return true;
}

bool ServiceReader::ReadTime(const JsonValue& object, const char* dateKey, const char* daysKey,
                             const std::string& at, CertificateTime& out) {
    if (object.contains(dateKey) && object.contains(daysKey)) {
        return Fail(at, "give either " + Quoted(dateKey) + " or " + Quoted(daysKey));
    }
    if (object.contains(daysKey)) {
        out.fixed = false;
        return Number(object, daysKey, at, out.days, -kMaxDays, kMaxDays);
    }
    if (!object.contains(dateKey)) return true;
    std::string text;
    if (!String(object, dateKey, at, text)) return false;
    const auto time = ParseUtcTime(text);
    if (!time) {
        return Fail(Join(at, dateKey),
                    Quoted(text) + " is not a date like 2027-03-01 or 2027-03-01T12:00:00Z");
    }
    out.fixed = true;
    out.unixSeconds = *time;
    return true;
}

bool ServiceReader::ReadTls(const JsonValue& value, const std::string& at, TlsConfig& tls) {
    bool expired = false;
    if (!Shape(value, at,
               {"protocol", "cipher", "subject", "issuer", "notBefore", "notBeforeDays", "notAfter",
                "notAfterDays", "expired", "selfSigned"}) ||
        !String(value, "protocol", at, tls.protocol) || !String(value, "cipher", at, tls.cipher) ||
        !String(value, "subject", at, tls.subject) || !String(value, "issuer", at, tls.issuer) ||
        !Bool(value, "expired", at, expired) || !Bool(value, "selfSigned", at, tls.selfSigned)) {
        return false;
    }
    bool knownProtocol = false;
    for (const char* name : {"SSL 3.0", "TLS 1.0", "TLS 1.1", "TLS 1.2", "TLS 1.3"}) {
        knownProtocol = knownProtocol || tls.protocol == name;
    }
    if (!knownProtocol) {
        return Fail(Join(at, "protocol"), Quoted(tls.protocol) +
                                              " is not \"TLS 1.3\", \"TLS 1.2\", \"TLS 1.1\", "
                                              "\"TLS 1.0\" or \"SSL 3.0\"");
    }
    if (tls.selfSigned && value.contains("issuer")) {
        return Fail(Join(at, "issuer"), "a self-signed certificate is issued by its subject");
    }
    if (expired) {
        if (value.contains("notAfter") || value.contains("notAfterDays")) {
            return Fail(Join(at, "expired"), "give either \"expired\" or the end of validity");
        }
        // Valid for a year, ended a month before the world starts.
        tls.notBefore = {false, -395, 0};
        tls.notAfter = {false, -30, 0};
    }
    if (!ReadTime(value, "notBefore", "notBeforeDays", at, tls.notBefore) ||
        !ReadTime(value, "notAfter", "notAfterDays", at, tls.notAfter)) {
        return false;
    }
    const bool before = tls.notBefore.fixed ? tls.notBefore.unixSeconds > tls.notAfter.unixSeconds
                                            : tls.notBefore.days > tls.notAfter.days;
    if (tls.notBefore.fixed == tls.notAfter.fixed && before) {
        return Fail(at, "the certificate ends before it begins");
    }
    return true;
}

}  // namespace

bool ReadServiceHosts(const JsonValue& root, WorldConfig& world, std::string& error) {
    ServiceReader reader;
    if (reader.ReadAll(root, world)) return true;
    error = reader.error();
    return false;
}

bool FindServiceHost(const WorldConfig& world, const std::string& reference, Ipv4Address& address,
                     std::string& problem) {
    const auto literal = Ipv4Address::Parse(reference);
    int found = 0;
    for (const ServiceHostConfig& host : world.serviceHosts) {
        if (literal ? host.address == *literal : SameName(host.name, reference)) {
            address = host.address;
            ++found;
        }
    }
    if (found == 1) return true;
    problem = found == 0 ? "no service host is " + Quoted(reference)
                         : "several service hosts are named " + Quoted(reference) +
                               "; name one by its address";
    return false;
}

}  // namespace quillon::sim
