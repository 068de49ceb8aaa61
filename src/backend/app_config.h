// AppConfig: which backend the application talks to and what it tells it about itself: the
// backend's base URL, the release channel, and an optional registration to a managed-service
// provider and organisation. Built-in defaults, overridden by an optional "config.json" in the
// configuration folder, read once at start-up and fixed for the run; the program never writes
// the file.
//
// Privacy: without a base URL in the file the application talks to no backend at all (no
// check-in, no telemetry, no update offers); docs/telemetry.md lists what is sent when one is
// configured.
//
// Pure functions and values, except LoadConfiguration, which reads the file. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

class System;

struct AppConfig {
    std::string channel = "stable";
    std::string c2BaseUrl;  // http(s) URL without a trailing slash; empty: no backend
    std::string mspId;
    std::string orgId;
};

inline constexpr const char* kConfigFileName = "config.json";

// Applies one file's text over `config`: true when the text was a JSON object with members.
// Values of the wrong kind are skipped; a base URL that is not an http(s) URL, and a channel
// that is empty or not a short word, are logged and leave the value before.
bool ApplyConfigJson(std::string_view text, AppConfig& config);

// The defaults, then the file (a UTF-8 byte-order mark skipped); problems are logged and never
// stop the application.
AppConfig LoadConfiguration(System& system);

// "<base>/v1/check-in", one trailing slash of the base dropped; empty without a backend.
std::string CheckInUrl(const AppConfig& config);

}  // namespace quillon
