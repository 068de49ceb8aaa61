// WinHTTP over TLS under Wine: when the openssl tool can be started (Wine runs Unix programs),
// certificates made for the run and `openssl s_server` on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <string>

#include "fakes/eventually.h"
#include "http_loopback.h"
#include "platform/win32/win32_http.h"

namespace quillon::win32 {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using SteadyClock = std::chrono::steady_clock;

// Runs a shell command line as a Unix program, as Wine can; false where that is impossible (on
// Windows itself). Wine hands back no process handle: the command must end by itself.
bool RunUnix(const std::string& command) {
    std::wstring line = L"/bin/sh -c \"" + std::wstring(command.begin(), command.end()) + L"\"";
    STARTUPINFOW start{};
    start.cb = sizeof(start);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &start, &process)) {
        return false;
    }
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    return true;
}

// Certificates for 127.0.0.1 made for the run by the openssl tool (a test CA signing a good one;
// a self-signed one with an organisation but no common name), served by `openssl s_server`,
// which answers every request with the file "page" and ends after the connections it was
// told to take (or 30 s). Every request takes a fresh connection, as s_server closes each.
class Win32HttpTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        unixFolder_ = "/tmp/quillon-http-test-" + std::to_string(GetCurrentProcessId());
        const std::string folder = "Z:" + unixFolder_;
        if (!CreateDirectoryA(folder.c_str(), nullptr)) return;
        std::ofstream(folder + "/make.sh", std::ios::binary) << R"(set -e
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"; }
key ca.key
openssl req -x509 -key ca.key -out ca.pem -days 2 -subj "/CN=Quillon Test CA"
key server.key
openssl req -new -key server.key -out server.csr -subj "/CN=quillon-test-server"
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -out good.pem -days 30 \
    -extfile /dev/stdin <<END
subjectAltName=IP:127.0.0.1
END
openssl x509 -in good.pem -noout -fingerprint -sha256 | tr -d : | tr A-F a-f | cut -d= -f2 > good.sha
openssl req -x509 -key server.key -out self.pem -days 2 -subj "/O=Quillon Self Signed"
printf 'HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello' > page
)";
        ready_ = RunUnix("cd " + unixFolder_ + " && sh make.sh > make.log 2>&1 && touch done") &&
                 test::Eventually([&] { return std::ifstream(folder + "/done").good(); }, 30s);
    }
    static void TearDownTestSuite() {
        if (ready_) RunUnix("sleep 1; rm -rf " + unixFolder_);  // after the servers are gone
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "the openssl tool cannot be run here (Wine runs it)";
    }
    static std::string Read(const char* name) {
        std::string text;
        std::getline(std::ifstream("Z:" + unixFolder_ + "/" + name), text);
        return text;
    }

    // An HTTPS address served with the certificate for `connections` connections.
    static std::string Serve(const char* certificate, int connections) {
        uint16_t port = 0;
        closesocket(Listener(&port));
        const std::string where = "127.0.0.1:" + std::to_string(port);
        // The readiness check below takes one connection of its own.
        RunUnix("cd " + unixFolder_ +
                " && exec timeout 30 openssl s_server -quiet -HTTP -naccept " +
                std::to_string(connections + 1) + " -accept " + where + " -cert " + certificate +
                " -key server.key > /dev/null 2>&1");
        test::Eventually(
            [&] {
                const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                to.sin_port = htons(port);
                const bool up = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
                closesocket(s);
                return up;
            },
            10s);
        return "https://" + where + "/page";
    }

    static Win32Sockets winsock_;
    static std::string unixFolder_;
    static bool ready_;
};
Win32Sockets Win32HttpTls::winsock_;
std::string Win32HttpTls::unixFolder_;
bool Win32HttpTls::ready_ = false;

TEST_F(Win32HttpTls, ServerCertificateIsDescribedAndCheckedUnlessIgnored) {
    Win32Http http;
    auto session = Open(http);
    HttpExchange exchange = Get(Serve("good.pem", 2));
    exchange.freshConnection = true;
    // Nobody trusts the test CA.
    HttpOutcome out = session->Send(exchange);
    EXPECT_FALSE(out.received);
    EXPECT_TRUE(out.error == kHttpErrorCertificateAuthority || out.error == kHttpErrorSecureFailure)
        << out.error;

    exchange.ignoreCertificateErrors = true;
    out = session->Send(exchange);
    ASSERT_TRUE(out.received) << out.error;
    EXPECT_EQ(out.statusCode, 200);
    EXPECT_EQ(out.body, "hello");
    ExpectOrderedPhases(out.timings, true);
    EXPECT_GT(out.timings.tlsDoneMs, 0);
    // Wine does not report the protocol.
    EXPECT_TRUE(out.tlsProtocol.empty() || out.tlsProtocol.rfind("TLS 1.", 0) == 0)
        << out.tlsProtocol;
    EXPECT_TRUE(out.certificate.present);
    EXPECT_EQ(out.certificate.subject, "quillon-test-server");
    EXPECT_EQ(out.certificate.issuer, "Quillon Test CA");
    EXPECT_EQ(out.certificate.sha256, Read("good.sha"));
    const int64_t now = time(nullptr);
    EXPECT_LE(out.certificate.notBeforeUnix, now);
    EXPECT_GE(out.certificate.notBeforeUnix, now - 600);
    EXPECT_EQ(out.certificate.notAfterUnix - out.certificate.notBeforeUnix, 30 * 86400);

    HttpExchange self = Get(Serve("self.pem", 1));
    self.freshConnection = true;
    self.ignoreCertificateErrors = true;
    out = session->Send(self);
    ASSERT_TRUE(out.received) << out.error;
    EXPECT_EQ(out.certificate.subject, "Quillon Self Signed");
    EXPECT_EQ(out.certificate.issuer, "Quillon Self Signed");
}

}  // namespace
}  // namespace quillon::win32
