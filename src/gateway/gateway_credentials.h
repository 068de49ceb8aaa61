// The saved gateway sign-ins: what is needed to resume a session with the home gateway later
// (its address, the user name, the password, the session and CSRF tokens, and the fingerprint
// of the certificate it showed), one section per gateway in one text file, indexed by the
// gateway's hardware address. The password is protected for the current user through the
// Secrets port and stored as Base64; it is never written in clear. Saving rewrites the whole
// file through the Files port (a temporary file renamed over the old one, readable by its
// owner alone), so a crash leaves the old file or the new one.
//
// One user at a time: the gateway bridge's worker. No lock of its own.
#pragma once

#include <map>
#include <string>

namespace quillon {

class Files;
class Secrets;

struct GatewayCredentials {
    std::string host;        // the gateway's address as used for the connection
    std::string gatewayMac;  // the index of the record
    std::string username;
    std::string password;  // in clear in memory only
    std::string token;     // the session token (the "TOKEN" cookie)
    std::string csrfToken;
    // SHA-256 of the certificate the gateway showed when the session was made, lower-case hex;
    // empty when not known. A different one later means somebody else may be answering.
    std::string certificateSha256;
};

// By hardware address text, in byte order; a MAC occurs once.
using CredentialMap = std::map<std::string, GatewayCredentials>;

// The file name in the application's data folder.
inline constexpr const char* kGatewayCredentialsFile = "gateway_credentials.ini";

class GatewayCredentialStore {
public:
    // An empty path disables the store: nothing is loaded, nothing saved.
    GatewayCredentialStore(std::string path, Files& files, Secrets* secrets)
        : path_(std::move(path)), files_(files), secrets_(secrets) {}

    // Every saved record; empty when the file is missing or unreadable. A password that cannot
    // be unprotected (another user's, damaged) loads empty.
    CredentialMap Load() const;
    // Replaces the record of the same MAC and keeps the others. False when nothing was written.
    bool Save(const GatewayCredentials& record);
    // Removes every saved sign-in (the file). False when the file could not be removed.
    bool ForgetAll();

    // The file text of a map (the password protected); exposed for tests.
    std::string Encode(const CredentialMap& map) const;
    CredentialMap Decode(const std::string& text) const;

private:
    bool Write(const CredentialMap& map);

    std::string path_;
    Files& files_;
    Secrets* secrets_;
};

// Leading and trailing blanks, tabs, carriage returns and line feeds removed.
std::string TrimWhitespace(const std::string& text);

}  // namespace quillon
