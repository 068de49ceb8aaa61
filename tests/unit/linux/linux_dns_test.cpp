// The resolver path end to end against a small responder on loopback.
#include "platform/linux/linux_dns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "loopback_udp.h"
#include "platform/linux/linux_dns_parse.h"

namespace quillon::lnx {
namespace {

using testing::Bytes;

// The answer to a query for its own question: PTR for *.in-addr.arpa, TXT for names starting
// "txt.", NXDOMAIN for the rest.
Bytes Reply(const Bytes& query) {
    if (query.size() < 12) return {};
    size_t end = 0;
    const std::string name = ReadDnsName(query.data(), query.size(), 12, &end);
    Bytes reply(query.begin(), query.begin() + static_cast<long>(std::min(end + 4, query.size())));
    reply[2] = 0x81;
    reply[3] = 0x80;
    auto put16 = [&](uint16_t v) {
        reply.push_back(static_cast<uint8_t>(v >> 8));
        reply.push_back(static_cast<uint8_t>(v));
    };
    auto answer = [&](uint16_t type, const Bytes& data) {
        reply[7] = 1;
        for (uint16_t v : {uint16_t{0xC00C}, type, uint16_t{1}, uint16_t{0}, uint16_t{60}})
            put16(v);
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
    return reply;
}

TEST(LinuxDns, QueriesGoThroughTheResolverAndComeBackParsed) {
    std::atomic<int> queries{0};
    testing::UdpResponder responder(
        [&](const Bytes& query, const testing::UdpResponder::Send& send) {
            ++queries;
            send(Reply(query), false);
        });
    LinuxDns dns(LinuxDnsOptions{testing::kLoopback, responder.port()});

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
    EXPECT_GE(queries, 3);
}

}  // namespace
}  // namespace quillon::lnx
