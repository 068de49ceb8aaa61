// Winsock and the system resolver under Wine: name resolution from the hosts file, one UDP
// exchange and TCP connects against servers on loopback, DnsQuery_W's record lists read from
// records built here and, when port 53 on loopback is free, a query to a server there.
#include <gtest/gtest.h>
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <thread>

#include "platform/win32/win32_dns.h"
#include "platform/win32/win32_dns_records.h"
#include "platform/win32/win32_sockets.h"

namespace quillon::win32 {
namespace {

// A socket bound to 127.0.0.1 (port 0: any free one).
class LoopbackSocket {
public:
    LoopbackSocket(int type, uint16_t port = 0) : socket_(::socket(AF_INET, type, 0)) {
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        self.sin_port = htons(port);
        int size = sizeof(self);
        bound_ = bind(socket_, reinterpret_cast<sockaddr*>(&self), sizeof(self)) == 0 &&
                 getsockname(socket_, reinterpret_cast<sockaddr*>(&self), &size) == 0;
        port_ = ntohs(self.sin_port);
    }
    ~LoopbackSocket() { Close(); }
    void Close() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    SOCKET get() const { return socket_; }
    bool bound() const { return bound_; }
    uint16_t port() const { return port_; }

private:
    SOCKET socket_;
    bool bound_ = false;
    uint16_t port_ = 0;
};

const Ipv4Address kLoopback(127, 0, 0, 1);

TEST(Win32Sockets, ResolvesExchangesAndConnectsOverLoopback) {
    Win32Sockets sockets;  // starts Winsock for the servers below too
    ResolveResult resolved = sockets.ResolveIpv4("127.0.0.1");
    EXPECT_TRUE(resolved.ok);
    EXPECT_EQ(resolved.addresses, std::vector<Ipv4Address>{kLoopback});
    resolved = sockets.ResolveIpv4("localhost");
    EXPECT_TRUE(resolved.ok);
    EXPECT_NE(std::find(resolved.addresses.begin(), resolved.addresses.end(), kLoopback),
              resolved.addresses.end());

    // A UDP server that answers with the request reversed.
    LoopbackSocket server(SOCK_DGRAM);
    ASSERT_TRUE(server.bound());
    std::thread answering([&] {
        char buffer[512];
        sockaddr_in from{};
        int fromSize = sizeof(from);
        const int size = recvfrom(server.get(), buffer, sizeof(buffer), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size <= 0) return;
        std::reverse(buffer, buffer + size);
        sendto(server.get(), buffer, size, 0, reinterpret_cast<sockaddr*>(&from), fromSize);
    });
    UdpExchangeResult exchange = sockets.UdpExchange(kLoopback, server.port(), {1, 2, 3}, 2000);
    answering.join();
    EXPECT_TRUE(exchange.sent);
    EXPECT_TRUE(exchange.received);
    EXPECT_EQ(exchange.answer, (std::vector<uint8_t>{3, 2, 1}));
    const uint16_t closedPort = server.port();
    server.Close();
    exchange = sockets.UdpExchange(kLoopback, closedPort, {1}, 300);
    EXPECT_TRUE(exchange.sent);
    EXPECT_FALSE(exchange.received);

    LoopbackSocket listening(SOCK_STREAM);
    ASSERT_TRUE(listening.bound());
    ASSERT_EQ(listen(listening.get(), 4), 0);
    TcpConnectResult connect = sockets.TcpConnect(kLoopback, listening.port(), 2000);
    EXPECT_TRUE(connect.connected);
    const uint16_t closedTcpPort = listening.port();
    listening.Close();
    connect = sockets.TcpConnect(kLoopback, closedTcpPort, 2000);
    EXPECT_FALSE(connect.connected);
    EXPECT_FALSE(connect.timedOut);
    EXPECT_EQ(connect.error, WSAECONNREFUSED);
}

TEST(Win32Dns, RecordListsBecomeAnswers) {
    wchar_t owner[] = L"www.example.test";
    wchar_t target[] = L"edge.example.test";
    wchar_t first[] = L"64512 | 192.0.2.0/24";
    wchar_t second[] = L"x";
    DNS_RECORDW extra{};  // additional section: left out
    extra.wType = DNS_TYPE_A;
    extra.Flags.S.Section = DnsSectionAddtional;
    DNS_RECORDW aaaa{};
    aaaa.pNext = &extra;
    aaaa.pName = target;
    aaaa.wType = DNS_TYPE_AAAA;
    aaaa.Flags.S.Section = DnsSectionAnswer;
    // TXT data ends in a one-element array: room for the second string follows it.
    struct {
        DNS_RECORDW record;
        PWSTR more;
    } txt{};
    txt.record.pNext = &aaaa;
    txt.record.pName = target;
    txt.record.wType = DNS_TYPE_TEXT;
    txt.record.Flags.S.Section = DnsSectionAnswer;
    txt.record.Data.TXT.dwStringCount = 2;
    PWSTR* strings = txt.record.Data.TXT.pStringArray;
    strings[0] = first;
    strings[1] = second;
    DNS_RECORDW a{};
    a.pNext = &txt.record;
    a.pName = target;
    a.wType = DNS_TYPE_A;
    a.Flags.S.Section = DnsSectionAnswer;
    a.Data.A.IpAddress = Ipv4Address(192, 0, 2, 7).NetworkOrder();
    DNS_RECORDW cname{};
    cname.pNext = &a;
    cname.pName = owner;
    cname.wType = DNS_TYPE_CNAME;
    cname.Flags.S.Section = DnsSectionAnswer;
    cname.Data.CNAME.pNameHost = target;

    DnsAnswer answer = AnswerOf(0, &cname);
    ASSERT_TRUE(answer.ok);
    ASSERT_EQ(answer.records.size(), 4u);
    EXPECT_EQ(static_cast<int>(answer.records[0].type), DNS_TYPE_CNAME);
    EXPECT_EQ(answer.records[0].name, "www.example.test");
    EXPECT_EQ(answer.records[0].ptr, "edge.example.test");
    EXPECT_EQ(answer.records[1].type, DnsType::A);
    EXPECT_EQ(answer.records[1].a, Ipv4Address(192, 0, 2, 7));
    EXPECT_EQ(answer.records[2].type, DnsType::Txt);
    EXPECT_EQ(answer.records[2].strings, (std::vector<std::string>{"64512 | 192.0.2.0/24", "x"}));
    EXPECT_EQ(static_cast<int>(answer.records[3].type), DNS_TYPE_AAAA);
    EXPECT_TRUE(answer.records[3].ptr.empty());

    answer = AnswerOf(DNS_ERROR_RCODE_NAME_ERROR, nullptr);
    EXPECT_FALSE(answer.ok);
    EXPECT_EQ(answer.error, DNS_ERROR_RCODE_NAME_ERROR);
    EXPECT_TRUE(answer.records.empty());
}

// Answers every question with one record of its type: A 192.0.2.7, PTR "hop." before the
// question's name (compressed, as servers write it: Wine 8 refuses an uncompressed PTR target
// as a bad packet), TXT "64512". Queries for "missing.test" get a name error.
// Runs until the socket is closed.
void AnswerQueries(SOCKET server) {
    for (;;) {
        uint8_t query[512];
        sockaddr_in from{};
        int fromSize = sizeof(from);
        const int size = recvfrom(server, reinterpret_cast<char*>(query), sizeof(query), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size < 0) return;
        if (size < 17) continue;
        size_t end = 12;
        while (end < size_t(size) && query[end] != 0) end += query[end] + 1;
        end += 5;  // the root label, type and class
        if (end > size_t(size)) continue;
        const uint8_t type = query[end - 3];
        std::vector<uint8_t> response(query, query + end);
        response[2] = 0x81;  // a response, recursion desired and available
        response[3] = 0x80;
        for (int at = 4; at < 12; ++at) response[at] = at == 5;  // the question alone
        const bool missing = std::string(reinterpret_cast<char*>(query) + 13, 7) == "missing";
        if (missing) {
            response[3] |= 3;
        } else {
            response[7] = 1;  // one answer
            std::vector<uint8_t> data;
            if (type == 1) data = {192, 0, 2, 7};
            if (type == 12) data = {3, 'h', 'o', 'p', 0xC0, 12};
            if (type == 16) data = {5, '6', '4', '5', '1', '2'};
            const uint8_t record[] = {0xC0, 12, 0, type, 0, 1,
                                      0,    0,  0, 60,   0, static_cast<uint8_t>(data.size())};
            response.insert(response.end(), record, record + sizeof(record));
            response.insert(response.end(), data.begin(), data.end());
        }
        sendto(server, reinterpret_cast<const char*>(response.data()), int(response.size()), 0,
               reinterpret_cast<sockaddr*>(&from), fromSize);
    }
}

TEST(Win32Dns, QueriesTheNamedServer) {
    Win32Sockets winsock;  // keeps Winsock started for the server
    LoopbackSocket server(SOCK_DGRAM, 53);
    if (!server.bound()) GTEST_SKIP() << "port 53 on loopback is taken";
    struct Answering {
        LoopbackSocket& server;
        std::thread thread{AnswerQueries, server.get()};
        ~Answering() {
            server.Close();
            thread.join();
        }
    } answering{server};
    Win32Dns dns(Win32DnsOptions{kLoopback});
    DnsAnswer answer = dns.Query("probe.test", DnsType::A, false);
    ASSERT_TRUE(answer.ok) << answer.error;
    ASSERT_EQ(answer.records.size(), 1u);
    EXPECT_EQ(answer.records[0].a, Ipv4Address(192, 0, 2, 7));
    answer = dns.Query("7.2.0.192.in-addr.arpa", DnsType::Ptr, true);
    ASSERT_EQ(answer.records.size(), 1u);
    EXPECT_EQ(answer.records[0].ptr, "hop.7.2.0.192.in-addr.arpa");
    answer = dns.Query("origin.test", DnsType::Txt, true);
    ASSERT_EQ(answer.records.size(), 1u);
    EXPECT_EQ(answer.records[0].strings, std::vector<std::string>{"64512"});
    answer = dns.Query("missing.test", DnsType::A, true);
    EXPECT_FALSE(answer.ok);
    EXPECT_NE(answer.error, 0);  // 9003 on Windows; Wine 8 says 123 (invalid name)
    EXPECT_TRUE(answer.records.empty());
}

}  // namespace
}  // namespace quillon::win32
