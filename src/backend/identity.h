// Who this installation is to the backend: a persistent client id and the platform facts the
// check-in reports, and the telemetry credentials the check-in hands out (endpoint, bearer
// token, expiry), kept across runs through the Settings port with the token protected through
// the Secrets port. The token never appears in a log line.
//
// InitIdentity and LoadTelemetryCredentials run once at start-up; the credentials are then read
// and replaced under TelemetryCredentialStore's own lock by the check-in and telemetry workers.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "base/app_version.h"

namespace quillon {

class Secrets;
class Settings;
class System;

struct ClientIdentity {
    std::string clientId;  // upper-case GUID form, persistent
    std::string appVersion = kAppVersion;
    std::string os;
    std::string osVersion;
    std::string arch;
    std::string computerName;
};

// Reads the stored client id (a non-empty String value "ClientId"), or makes and stores a new
// one; fills the platform facts; logs the identity.
ClientIdentity InitIdentity(Settings* settings, System& system);

// A new id: 16 random bytes in GUID form ("%08X-%04X-%04X-%04X-%012X"), version 4.
std::string NewClientId();

struct TelemetryCredentials {
    std::string endpoint;
    std::string token;
    uint32_t tokenExpires = 0;  // Unix seconds
    bool active = false;        // endpoint and token both known when last decided
};

class TelemetryCredentialStore {
public:
    TelemetryCredentialStore(Settings* settings, Secrets* secrets)
        : settings_(settings), secrets_(secrets) {}

    // Start-up: the stored endpoint, token (unprotected) and expiry.
    void Load();
    // Replaces the credentials and stores them; a token that cannot be protected is not
    // stored (the one before stays on disk).
    void Save(const TelemetryCredentials& credentials);
    void SetActive(bool active);
    TelemetryCredentials Get();

private:
    Settings* settings_;
    Secrets* secrets_;
    std::mutex mutex_;
    TelemetryCredentials credentials_;
};

// "2030-01-01T00:00:00Z" to Unix seconds (anything after the seconds ignored, no zone offset
// applied); 0 when it is not a date and time.
int64_t ParseIso8601(std::string_view text);

}  // namespace quillon
