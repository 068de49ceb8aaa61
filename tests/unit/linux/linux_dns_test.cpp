// The resolver path end to end against a small responder on loopback.
#include "platform/linux/linux_dns.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_dns_parse.h"

namespace quillon::lnx {
namespace {

// Answers every query for its own question: PTR for *.in-addr.arpa, TXT for names starting
// "txt.", NXDOMAIN for the rest. Runs until destroyed.
class LoopbackResponder {
public:
    LoopbackResponder() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        socklen_t length = sizeof(address);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackResponder() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    uint16_t port() const { return port_; }
    int queries() const { return queries_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            uint8_t query[512];
            sockaddr_in from{};
            socklen_t fromLength = sizeof(from);
            const ssize_t n = recvfrom(fd_, query, sizeof(query), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 12) continue;
            ++queries_;
            size_t end = 0;
            const std::string name = ReadDnsName(query, static_cast<size_t>(n), 12, &end);
            std::vector<uint8_t> reply(query, query + end + 4);
            reply[2] = 0x81;
            reply[3] = 0x80;
            auto put16 = [&](uint16_t v) {
                reply.push_back(static_cast<uint8_t>(v >> 8));
                reply.push_back(static_cast<uint8_t>(v));
            };
            auto answer = [&](uint16_t type, const std::vector<uint8_t>& data) {
                reply[7] = 1;
                put16(0xC00C);
                put16(type);
                put16(1);
                put16(0);
                put16(60);
                put16(static_cast<uint16_t>(data.size()));
                reply.insert(reply.end(), data.begin(), data.end());
            };
            if (name.ends_with(".in-addr.arpa")) {
                answer(12, {4, 'h', 'o', 'p', '1', 3, 'l', 'a', 'b', 0});
            } else if (name.rfind("txt.", 0) == 0) {
                answer(16, {5, '6', '4', '5', '0', '0', 1, '|'});
            } else {
                reply[3] = 0x83;  // NXDOMAIN
            }
            sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                   fromLength);
        }
    }

    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> queries_{0};
    std::thread thread_;
};

TEST(LinuxDns, QueriesGoThroughTheResolverAndComeBackParsed) {
    LoopbackResponder responder;
    LinuxDns dns(LinuxDnsOptions{htonl(INADDR_LOOPBACK), responder.port()});

    const DnsAnswer ptr = dns.Query("1.2.0.192.in-addr.arpa", DnsType::Ptr, false);
    ASSERT_TRUE(ptr.ok) << ptr.error;
    ASSERT_EQ(ptr.records.size(), 1u);
    EXPECT_EQ(ptr.records[0].type, DnsType::Ptr);
    EXPECT_EQ(ptr.records[0].name, "1.2.0.192.in-addr.arpa");
    EXPECT_EQ(ptr.records[0].ptr, "hop1.lab");

    const DnsAnswer txt = dns.Query("txt.origin.lab", DnsType::Txt, true);
    ASSERT_TRUE(txt.ok);
    ASSERT_EQ(txt.records.size(), 1u);
    EXPECT_EQ(txt.records[0].strings, (std::vector<std::string>{"64500", "|"}));

    const DnsAnswer missing = dns.Query("nothing.lab", DnsType::A, false);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, 1) << "name not found";
    EXPECT_TRUE(missing.records.empty());
    EXPECT_GE(responder.queries(), 3);
}

}  // namespace
}  // namespace quillon::lnx
