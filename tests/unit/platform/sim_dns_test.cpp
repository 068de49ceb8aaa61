#include "platform/sim/sim_dns.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_world.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::sim {
namespace {

constexpr Ipv4Address kDest(1, 1, 1, 1);
constexpr Ipv4Address kIsp(192, 0, 2, 1);

// The only TXT string of a successful one-record answer, or a note of what came instead.
std::string OnlyText(const DnsAnswer& answer) {
    if (!answer.ok) return "<failed>";
    if (answer.records.size() != 1 || answer.records[0].type != DnsType::Txt ||
        answer.records[0].strings.size() != 1) {
        return "<unexpected shape>";
    }
    return answer.records[0].strings[0];
}

TEST(SimDns, RecordsAreGeneratedFromTheHops) {
    VirtualClock clock;
    SimWorld world(WorldBuilder()
                       .Path(kDest)
                       .Hop(kHomeGateway, 2)
                       .Named("router.home")
                       .Hop(kIsp, 9)
                       .Named("bras1.isp.example")
                       .As(64500, "EXAMPLE-NET, ZZ")
                       .Hop(Ipv4Address(198, 51, 100, 9), 12)
                       .As(64510, "", "198.51.0.0/16")
                       .DestinationInfo("dns.anycast.example", 64520, "ANYCAST, ZZ")
                       .Build(),
                   clock);
    SimDns dns(world);

    const DnsAnswer ptr = dns.Query("1.2.0.192.in-addr.arpa", DnsType::Ptr, false);
    ASSERT_TRUE(ptr.ok);
    ASSERT_EQ(ptr.records.size(), 1u);
    EXPECT_EQ(ptr.records[0].type, DnsType::Ptr);
    EXPECT_EQ(ptr.records[0].name, "1.2.0.192.in-addr.arpa");
    EXPECT_EQ(ptr.records[0].ptr, "bras1.isp.example");
    EXPECT_EQ(dns.Query("1.1.168.192.IN-ADDR.ARPA", DnsType::Ptr, true).records.at(0).ptr,
              "router.home");

    EXPECT_EQ(OnlyText(dns.Query("1.2.0.192.origin.asn.cymru.com", DnsType::Txt, false)),
              "64500 | 192.0.2.0/24 | ZZ | registry | 2000-01-01");
    EXPECT_EQ(OnlyText(dns.Query("AS64500.asn.cymru.com", DnsType::Txt, false)),
              "64500 | ZZ | registry | 2000-01-01 | EXAMPLE-NET, ZZ");
    EXPECT_EQ(OnlyText(dns.Query("9.100.51.198.origin.asn.cymru.com", DnsType::Txt, false)),
              "64510 | 198.51.0.0/16 | ZZ | registry | 2000-01-01");
    // The destination answers no echo here, but its names and AS are known.
    EXPECT_EQ(dns.Query("1.1.1.1.in-addr.arpa", DnsType::Ptr, false).records.at(0).ptr,
              "dns.anycast.example");
    EXPECT_EQ(OnlyText(dns.Query("AS64520.asn.cymru.com", DnsType::Txt, false)),
              "64520 | ZZ | registry | 2000-01-01 | ANYCAST, ZZ");

    // Whatever the hops do not give fails: no name, no AS, an AS without a name, wrong type.
    for (const auto& [name, type] : std::vector<std::pair<std::string, DnsType>>{
             {"9.100.51.198.in-addr.arpa", DnsType::Ptr},
             {"1.1.168.192.origin.asn.cymru.com", DnsType::Txt},
             {"AS64510.asn.cymru.com", DnsType::Txt},
             {"1.2.0.192.in-addr.arpa", DnsType::Txt},
             {"1.2.0.192.origin.asn.cymru.com", DnsType::Ptr},
             {"example.com", DnsType::A}}) {
        const DnsAnswer answer = dns.Query(name, type, false);
        EXPECT_FALSE(answer.ok) << name;
        EXPECT_NE(answer.error, 0) << name;
        EXPECT_TRUE(answer.records.empty()) << name;
    }
    EXPECT_EQ(world.DnsQueries("1.2.0.192.in-addr.arpa", DnsType::Ptr), 1);
    EXPECT_EQ(world.DnsQueries("1.1.168.192.in-addr.arpa", DnsType::Ptr), 1);
    EXPECT_EQ(world.DnsQueries("1.2.0.192.in-addr.arpa", DnsType::Txt), 1);
    EXPECT_EQ(world.DnsQueries("never.asked", DnsType::Txt), 0);
}

TEST(SimDns, ZonesAndExtraAnswersReplaceGeneratedOnes) {
    VirtualClock clock;
    DnsRecord cname;
    cname.type = kDnsTypeCname;
    cname.name = "1.2.0.192.in-addr.arpa";
    cname.ptr = "1.0/25.2.0.192.in-addr.arpa";
    DnsRecord ptr;
    ptr.type = DnsType::Ptr;
    ptr.name = cname.ptr;
    ptr.ptr = "delegated.example";
    SimWorld world(WorldBuilder()
                       .Zones("origin.test", "names.test")
                       .Path(kDest)
                       .Hop(kIsp, 9)
                       .Named("bras1.isp.example")
                       .As(64500, "EXAMPLE-NET, ZZ")
                       .Hop(kDest, 14)
                       .As(64501, "OTHER, ZZ")
                       .Answer("1.2.0.192.in-addr.arpa", DnsType::Ptr, {true, 0, {cname, ptr}})
                       .TxtAnswer("AS64500.names.test", {})
                       .TxtAnswer("1.1.1.1.origin.test", {"64501 64502"})
                       .Answer("AS64501.names.test", DnsType::Txt, {false, 2, {}})
                       .Build(),
                   clock);
    SimDns dns(world);

    EXPECT_FALSE(dns.Query("1.2.0.192.origin.asn.cymru.com", DnsType::Txt, false).ok);
    EXPECT_EQ(OnlyText(dns.Query("1.2.0.192.origin.test", DnsType::Txt, false)),
              "64500 | 192.0.2.0/24 | ZZ | registry | 2000-01-01");

    const DnsAnswer cnameFirst = dns.Query("1.2.0.192.in-addr.arpa", DnsType::Ptr, false);
    ASSERT_TRUE(cnameFirst.ok);
    ASSERT_EQ(cnameFirst.records.size(), 2u);
    EXPECT_EQ(cnameFirst.records[0].type, kDnsTypeCname);
    EXPECT_EQ(cnameFirst.records[1].ptr, "delegated.example");

    const DnsAnswer empty = dns.Query("AS64500.names.test", DnsType::Txt, false);
    ASSERT_TRUE(empty.ok);
    ASSERT_EQ(empty.records.size(), 1u);
    EXPECT_TRUE(empty.records[0].strings.empty());
    EXPECT_EQ(OnlyText(dns.Query("1.1.1.1.origin.test", DnsType::Txt, false)), "64501 64502");
    const DnsAnswer failed = dns.Query("AS64501.names.test", DnsType::Txt, false);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, 2);
}

}  // namespace
}  // namespace quillon::sim
