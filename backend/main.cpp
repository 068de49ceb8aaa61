// quillon-backend: the self-hosted backend server and its operator commands (see --help).
#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "contract.h"
#include "service.h"
#include "sqlite_store.h"

namespace {

using quillon::server::SqliteStore;

constexpr const char* kUsage = R"(Usage: quillon-backend COMMAND --db FILE [OPTIONS]

The backend Quillon checks in with at start-up: it hands out telemetry tokens, receives
telemetry batches and log uploads, and tells clients about updates and blocked versions.
Everything is kept in one SQLite file (created with its schema on first use).

Commands:
  serve             run the server until interrupted
      --listen HOST:PORT      address to listen on (default 127.0.0.1:8787; port 0 picks one)
      --public-url URL        address clients reach the server at, used in the endpoints handed
                              out at check-in (default: from each request's Host header)
      --token-lifetime TIME   how long a telemetry token lives: seconds, or with a suffix
                              s, m, h or d (default 24h)
      --cert FILE --key FILE  serve HTTPS with this PEM certificate (chain) and key
      --max-log-bytes N       largest log upload accepted (default 16777216)
  publish-update    offer a version to the clients of a channel (replaces its earlier offer)
      --version X.Y.Z         the offered version (required)
      --url URL               download address, same as --artifact windows=URL
      --artifact PLATFORM=URL download for a platform ("windows", "windows-x64", ...); repeatable
      --signature PLATFORM=SIG the signature of that platform's download; repeatable
      --notes TEXT            release notes
      --notes-url URL         address of the release notes
      --urgency LEVEL         optional, recommended (default) or required
      --channel NAME          release channel (default stable)
  withdraw-update   withdraw the offer of a channel (--channel, default stable)
  block-version     add a version to the blocked list (--version X.Y.Z, optional --reason TEXT)
  unblock-version   remove a version from the blocked list (--version X.Y.Z)
  status            counts, the channel's offer (--channel, default stable), blocked versions
  events            the latest telemetry events as JSON lines (--client ID, --limit N, default 50)
  export-log        write a log upload's bytes to --out FILE (--id N)

Every command takes --db FILE. --help prints this text.
)";

// "--name value" pairs after the command; repeatable options keep every value.
struct Args {
    std::multimap<std::string, std::string> values;
    std::string Get(const std::string& name, const std::string& fallback = "") const {
        auto it = values.find(name);
        return it == values.end() ? fallback : it->second;
    }
    bool Has(const std::string& name) const { return values.count(name) > 0; }
};

int Usage(const std::string& problem) {
    std::cerr << "quillon-backend: " << problem << "\nTry 'quillon-backend --help'.\n";
    return 2;
}

int Failed(const std::string& problem) {
    std::cerr << "quillon-backend: " << problem << "\n";
    return 1;
}

bool IsUrl(const std::string& text) {
    return text.rfind("https://", 0) == 0 || text.rfind("http://", 0) == 0;
}

bool ParseDuration(const std::string& text, int64_t& seconds) {
    size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used);
    } catch (...) {
        return false;
    }
    std::string unit = text.substr(used);
    const std::map<std::string, int64_t> units = {
        {"", 1}, {"s", 1}, {"m", 60}, {"h", 3600}, {"d", 86400}};
    auto it = units.find(unit);
    if (it == units.end() || value <= 0 || value > 3650LL * 86400 / it->second) return false;
    seconds = value * it->second;
    return true;
}

// "host:port", "[v6]:port"; the port 0 to 65535.
bool ParseListen(const std::string& text, std::string& host, int& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    host = text.substr(0, colon);
    if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    std::string digits = text.substr(colon + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    port = std::stoi(digits);
    return port <= 65535 && !host.empty();
}

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

int Serve(const Args& args, SqliteStore& store) {
    std::string host;
    int port = 0;
    if (!ParseListen(args.Get("--listen", "127.0.0.1:8787"), host, port)) {
        return Usage("--listen takes HOST:PORT");
    }
    quillon::server::ServiceOptions options;
    if (args.Has("--token-lifetime") &&
        !ParseDuration(args.Get("--token-lifetime"), options.tokenLifetimeSeconds)) {
        return Usage("--token-lifetime takes a positive duration such as 3600, 90m or 24h");
    }
    if (args.Has("--max-log-bytes")) {
        std::string text = args.Get("--max-log-bytes");
        if (text.empty() || text.size() > 12 ||
            text.find_first_not_of("0123456789") != std::string::npos || std::stoll(text) == 0) {
            return Usage("--max-log-bytes takes a positive number of bytes");
        }
        options.maxLogBytes = static_cast<size_t>(std::stoll(text));
    }
    options.publicUrl = args.Get("--public-url");
    if (!options.publicUrl.empty() && !IsUrl(options.publicUrl)) {
        return Usage("--public-url takes an http:// or https:// address");
    }
    if (args.Has("--cert") != args.Has("--key")) return Usage("--cert and --key go together");
    options.tls = args.Has("--cert");

    std::unique_ptr<httplib::Server> server;
    if (options.tls) {
        auto tls = std::make_unique<httplib::SSLServer>(args.Get("--cert").c_str(),
                                                        args.Get("--key").c_str());
        if (!tls->is_valid()) return Failed("cannot load the certificate or the key");
        server = std::move(tls);
    } else {
        server = std::make_unique<httplib::Server>();
    }
    quillon::server::BackendService service(store, options);
    service.Install(*server);
    server->set_logger([](const httplib::Request& req, const httplib::Response& res) {
        std::printf("%s %s %s %d\n", req.remote_addr.c_str(), req.method.c_str(), req.path.c_str(),
                    res.status);
        std::fflush(stdout);
    });

    // Ctrl-C and SIGTERM are taken by a thread of their own (sigwait), so that stopping the
    // server happens outside a signal handler. Blocked before any worker thread exists.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (port == 0) {
        port = server->bind_to_any_port(host);
    } else if (!server->bind_to_port(host, port)) {
        port = -1;
    }
    if (port < 0) return Failed("cannot listen on " + args.Get("--listen", "127.0.0.1:8787"));
    std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    std::string base = (options.tls ? "https://" : "http://") + shown + ":" + std::to_string(port);
    std::printf("Quillon backend listening on %s (database %s)\n", base.c_str(),
                args.Get("--db").c_str());
    if (options.publicUrl.empty() && (host == "0.0.0.0" || host == "::")) {
        std::printf(
            "Point Quillon at it with config.json: {\"c2\":{\"c2_base_url\":\"%s://"
            "<this computer's name or address>:%d\"}}\n",
            options.tls ? "https" : "http", port);
    } else {
        std::printf("Point Quillon at it with config.json: {\"c2\":{\"c2_base_url\":\"%s\"}}\n",
                    (options.publicUrl.empty() ? base : options.publicUrl).c_str());
    }
    std::fflush(stdout);

    std::atomic<bool> signalled = false;
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&signals, &signal);
        signalled = true;
        server->stop();
    });
    bool ok = server->listen_after_bind();
    // Wakes the stopper when the server ended on its own.
    if (!signalled) kill(getpid(), SIGTERM);
    stopper.join();
    std::printf("Quillon backend stopped\n");
    return ok ? 0 : 1;
}

int PublishUpdate(const Args& args, SqliteStore& store) {
    quillon::server::UpdateOfferRecord offer;
    offer.version = args.Get("--version");
    if (!quillon::server::IsReleaseVersion(offer.version)) {
        return Usage("--version takes a version such as 1.2.0");
    }
    offer.channel = args.Get("--channel", "stable");
    offer.urgency = args.Get("--urgency", "recommended");
    if (offer.urgency != "optional" && offer.urgency != "recommended" &&
        offer.urgency != "required") {
        return Usage("--urgency is optional, recommended or required");
    }
    offer.releaseNotes = args.Get("--notes");
    offer.releaseNotesUrl = args.Get("--notes-url");
    if (!offer.releaseNotesUrl.empty() && !IsUrl(offer.releaseNotesUrl)) {
        return Usage("--notes-url takes an http:// or https:// address");
    }
    std::vector<std::pair<std::string, std::string>> downloads;
    if (args.Has("--url")) downloads.emplace_back("windows", args.Get("--url"));
    std::map<std::string, std::string> signatures;
    for (const auto& [name, value] : args.values) {
        size_t eq = value.find('=');
        if (name != "--artifact" && name != "--signature") continue;
        if (eq == std::string::npos || eq == 0) return Usage(name + " takes PLATFORM=VALUE");
        if (name == "--artifact") {
            downloads.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else {
            signatures[value.substr(0, eq)] = value.substr(eq + 1);
        }
    }
    for (const auto& [platform, url] : downloads) {
        if (!IsUrl(url)) return Usage("a download address must start with http:// or https://");
        offer.artifacts.push_back({platform, url, signatures[platform]});
    }
    if (offer.artifacts.empty() && offer.releaseNotesUrl.empty()) {
        return Usage("an offer needs a download (--url or --artifact) or --notes-url");
    }
    offer.publishedAt = Now();
    std::string error;
    if (!store.PublishUpdate(offer, error)) return Failed(error);
    std::printf("Offering %s (%s) on channel %s\n", offer.version.c_str(), offer.urgency.c_str(),
                offer.channel.c_str());
    return 0;
}

int Status(const Args& args, SqliteStore& store) {
    std::string error;
    quillon::server::StoreCounts counts;
    std::optional<quillon::server::UpdateOfferRecord> offer;
    std::vector<std::string> blocked;
    std::string channel = args.Get("--channel", "stable");
    if (!store.Counts(Now(), counts, error) || !store.CurrentUpdate(channel, offer, error) ||
        !store.BlockedVersions(blocked, error)) {
        return Failed(error);
    }
    std::printf("clients: %lld (check-ins: %lld, live tokens: %lld)\n",
                static_cast<long long>(counts.clients), static_cast<long long>(counts.checkIns),
                static_cast<long long>(counts.liveTokens));
    std::printf("telemetry events: %lld\nlog uploads: %lld\n",
                static_cast<long long>(counts.events), static_cast<long long>(counts.logUploads));
    if (offer) {
        std::printf("offer on %s: %s (%s), %zu download(s)\n", channel.c_str(),
                    offer->version.c_str(), offer->urgency.c_str(), offer->artifacts.size());
    } else {
        std::printf("offer on %s: none\n", channel.c_str());
    }
    std::printf("blocked versions:");
    for (const auto& v : blocked) std::printf(" %s", v.c_str());
    std::printf("%s\n", blocked.empty() ? " none" : "");
    return 0;
}

int Events(const Args& args, SqliteStore& store) {
    long long limit = 50;
    try {
        limit = std::stoll(args.Get("--limit", "50"));
    } catch (...) {
        limit = 0;
    }
    if (limit <= 0) return Usage("--limit takes a positive number");
    std::vector<quillon::server::StoredEvent> events;
    std::string error;
    if (!store.RecentEvents(args.Get("--client"), limit, events, error)) return Failed(error);
    for (const auto& e : events) {
        nlohmann::json line = {{"id", e.id},
                               {"clientId", e.clientId},
                               {"type", e.event.type},
                               {"timestamp", e.event.timestamp},
                               {"receivedAt", e.receivedAt},
                               {"data", nlohmann::json::parse(e.event.dataJson, nullptr, false)}};
        std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    }
    return 0;
}

int ExportLog(const Args& args, SqliteStore& store) {
    long long id = 0;
    try {
        id = std::stoll(args.Get("--id"));
    } catch (...) {
        return Usage("--id takes the number of a log upload");
    }
    if (!args.Has("--out")) return Usage("--out FILE is required");
    std::optional<quillon::server::LogUploadRecord> upload;
    std::string error;
    if (!store.FindLogUpload(id, upload, error)) return Failed(error);
    if (!upload) return Failed("no log upload " + std::to_string(id));
    std::ofstream out(args.Get("--out"), std::ios::binary);
    out.write(upload->bytes.data(), static_cast<std::streamsize>(upload->bytes.size()));
    if (!out.flush()) return Failed("cannot write " + args.Get("--out"));
    std::printf("log %lld from %s (%s, %zu bytes) written to %s\n", id, upload->clientId.c_str(),
                upload->contentType.c_str(), upload->bytes.size(), args.Get("--out").c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage("a command is required");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Args args;
    for (int i = 2; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (name.rfind("--", 0) != 0 || i + 1 >= argc) {
            return Usage("expected --option VALUE, got '" + name + "'");
        }
        args.values.emplace(name, argv[++i]);
    }
    if (!args.Has("--db")) return Usage("--db FILE is required");

    using Command = int (*)(const Args&, SqliteStore&);
    const std::map<std::string, Command> commands = {
        {"serve", Serve},
        {"publish-update", PublishUpdate},
        {"withdraw-update",
         [](const Args& a, SqliteStore& s) {
             bool removed = false;
             std::string error, channel = a.Get("--channel", "stable");
             if (!s.WithdrawUpdate(channel, removed, error)) return Failed(error);
             std::printf("%s\n", removed ? ("Withdrew the offer on " + channel).c_str()
                                         : ("No offer on " + channel).c_str());
             return 0;
         }},
        {"block-version",
         [](const Args& a, SqliteStore& s) {
             std::string error, version = a.Get("--version");
             if (!quillon::server::IsReleaseVersion(version)) {
                 return Usage("--version takes a version such as 1.2.0");
             }
             if (!s.BlockVersion(version, a.Get("--reason"), Now(), error)) return Failed(error);
             std::printf("Blocked %s\n", version.c_str());
             return 0;
         }},
        {"unblock-version",
         [](const Args& a, SqliteStore& s) {
             bool removed = false;
             std::string error, version = a.Get("--version");
             if (!s.UnblockVersion(version, removed, error)) return Failed(error);
             std::printf("%s %s\n", removed ? "Unblocked" : "Was not blocked:", version.c_str());
             return 0;
         }},
        {"status", Status},
        {"events", Events},
        {"export-log", ExportLog},
    };
    auto it = commands.find(command);
    if (it == commands.end()) return Usage("unknown command '" + command + "'");

    std::string error;
    auto store = SqliteStore::Open(args.Get("--db"), error);
    if (!store) return Failed(error);
    return it->second(args, *store);
}
