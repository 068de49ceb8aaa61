// Scripted ports for service probe tests: name look-ups and TCP connects from tables, DNS A
// answers for known names, HTTP outcomes from a function, and file replacement that can be made
// to fail. Each takes `delayMs` on the given clock per call, so probes take virtual time.
// Thread-safe: probe workers call them concurrently.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "base/ipv4.h"
#include "platform/clock.h"
#include "platform/dns.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/sockets.h"

namespace quillon::test {

// A received answer with this status and body.
inline HttpOutcome Answered(int status, std::string body = {}) {
    HttpOutcome outcome;
    outcome.received = true;
    outcome.statusCode = status;
    outcome.bodyBytes = body.size();
    outcome.body = std::move(body);
    return outcome;
}

class FakeSockets final : public Sockets {
public:
    std::map<std::string, Ipv4Address> names;  // host -> address; literals resolve by themselves
    std::set<uint16_t> openPorts;              // connects to these succeed
    std::set<uint16_t> silentPorts;            // these time out; every other port refuses
    std::atomic<int> connects = 0;

    ResolveResult ResolveIpv4(const std::string& host) override {
        ResolveResult result;
        std::lock_guard lock(mutex_);
        if (const auto it = names.find(host); it != names.end()) {
            result.addresses.push_back(it->second);
        } else if (const auto literal = Ipv4Address::Parse(host)) {
            result.addresses.push_back(*literal);
        }
        result.ok = !result.addresses.empty();
        return result;
    }
    UdpExchangeResult UdpExchange(Ipv4Address, uint16_t, const std::vector<uint8_t>&,
                                  uint32_t) override {
        return {};
    }
    TcpConnectResult TcpConnect(Ipv4Address, uint16_t port, uint32_t) override {
        ++connects;
        std::lock_guard lock(mutex_);
        TcpConnectResult result;
        result.connected = openPorts.contains(port);
        result.timedOut = silentPorts.contains(port);
        if (!result.connected && !result.timedOut) result.error = 111;
        return result;
    }

private:
    std::mutex mutex_;
};

class FakeDnsA final : public Dns {
public:
    explicit FakeDnsA(Clock& clock, uint32_t delayMs = 0) : clock_(clock), delayMs_(delayMs) {}
    void Answer(const std::string& name, Ipv4Address address) {
        std::lock_guard lock(mutex_);
        names_[name] = address;
    }
    void Forget(const std::string& name) {
        std::lock_guard lock(mutex_);
        names_.erase(name);
    }
    std::atomic<int> queries = 0;

    DnsAnswer Query(const std::string& name, DnsType type, bool) override {
        ++queries;
        if (delayMs_ > 0) clock_.Sleep(delayMs_);
        DnsAnswer answer;
        std::lock_guard lock(mutex_);
        const auto it = names_.find(name);
        if (it == names_.end() || type != DnsType::A) {
            answer.error = 3;  // name error
            return answer;
        }
        answer.ok = true;
        DnsRecord record;
        record.type = DnsType::A;
        record.name = name;
        record.a = it->second;
        answer.records.push_back(record);
        return answer;
    }

private:
    Clock& clock_;
    const uint32_t delayMs_;
    std::mutex mutex_;
    std::map<std::string, Ipv4Address> names_;
};

class FakeHttp final : public Http {
public:
    std::function<HttpOutcome(const HttpExchange&)> answer;
    bool failOpen = false;
    std::atomic<int> sessionsOpened = 0;

    std::unique_ptr<HttpSession> OpenSession(const std::string&, uint32_t* error) override {
        if (failOpen) {
            *error = 12004;
            return nullptr;
        }
        ++sessionsOpened;
        return std::make_unique<Session>(*this);
    }
    std::vector<HttpExchange> Sent() {
        std::lock_guard lock(mutex_);
        return sent_;
    }

private:
    class Session final : public HttpSession {
    public:
        explicit Session(FakeHttp& owner) : owner_(owner) {}
        HttpOutcome Send(const HttpExchange& exchange) override {
            {
                std::lock_guard lock(owner_.mutex_);
                owner_.sent_.push_back(exchange);
            }
            return owner_.answer ? owner_.answer(exchange) : HttpOutcome{};
        }

    private:
        FakeHttp& owner_;
    };
    std::mutex mutex_;
    std::vector<HttpExchange> sent_;
};

// Plain write-and-rename; `fail` makes every replacement fail as a full disk would.
// `ownerOnly` is what the last replacement asked for.
class FakeFiles final : public Files {
public:
    std::atomic<bool> fail = false;
    std::atomic<bool> ownerOnly = false;
    FileWriteResult ReplaceFile(const std::string& path, std::string_view bytes,
                                bool ownerOnlyAsked) override {
        ownerOnly = ownerOnlyAsked;
        if (fail) return {false, 28};
        const std::string temporary = path + ".tmp";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) return {false, 5};
        }
        std::error_code ec;
        std::filesystem::rename(temporary, path, ec);
        return {!ec, ec.value()};
    }
};

}  // namespace quillon::test
