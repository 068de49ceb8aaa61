#include "discovery/name_lookups.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "discovery/address_text.h"

namespace quillon {
namespace {

constexpr auto kCname = static_cast<DnsType>(5);

// Serves fixed answers by (name, type) and records every query; any other name fails as a
// name error would. Thread-safe so the concurrency test can share it.
class FakeDns : public Dns {
public:
    DnsAnswer Query(const std::string& name, DnsType type, bool bypassCache) override {
        std::lock_guard<std::mutex> lock(mutex_);
        queries.push_back({name, type});
        bypassed = bypassed || bypassCache;
        auto it = answers.find({name, type});
        if (it == answers.end()) return DnsAnswer{false, 9003, {}};
        return it->second;
    }
    size_t QueryCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queries.size();
    }

    std::map<std::pair<std::string, DnsType>, DnsAnswer> answers;
    std::vector<std::pair<std::string, DnsType>> queries;
    bool bypassed = false;

private:
    std::mutex mutex_;
};

DnsRecord Record(DnsType type, std::string ptr = {}, std::vector<std::string> strings = {}) {
    DnsRecord r;
    r.type = type;
    r.ptr = std::move(ptr);
    r.strings = std::move(strings);
    return r;
}

DnsAnswer Answer(std::vector<DnsRecord> records) {
    return DnsAnswer{true, 0, std::move(records)};
}

DnsAnswer Txt(const std::string& first) {
    return Answer({Record(DnsType::Txt, {}, {first, "x"})});
}

const Ipv4Address kHop(192, 0, 2, 1);
const std::string kOrigin = "1.2.0.192.origin.asn.cymru.com";
const std::string kOriginText = "64500 | 192.0.2.0/24 | ZZ | registry | 2000-01-01";
const std::string kNameText = "64500 | ZZ | registry | 2000-01-01 | EXAMPLE-NET, ZZ";

TEST(NameLookupsTest, QueryNamesReverseTheOctets) {
    EXPECT_EQ(ReverseQueryName(kHop), "1.2.0.192.in-addr.arpa");
    EXPECT_EQ(OriginQueryName(kHop), kOrigin);
    EXPECT_EQ(ReverseQueryName(Ipv4Address(10, 20, 30, 255)), "255.30.20.10.in-addr.arpa");
    EXPECT_EQ(AsNameQueryName("64500"), "AS64500.asn.cymru.com");
}

TEST(NameLookupsTest, ParsesOriginAndAsNameTexts) {
    EXPECT_EQ(ParseOriginAsn(kOriginText), "64500");
    EXPECT_EQ(ParseOriginAsn("64500 64501 | 192.0.2.0/24 | ZZ"), "64500 64501");
    EXPECT_EQ(ParseOriginAsn(" 64500\t  |a|b"), " 64500\t");  // only trailing U+0020 goes
    EXPECT_EQ(ParseOriginAsn("| 192.0.2.0/24"), "");
    EXPECT_EQ(ParseOriginAsn("64500 192.0.2.0/24"), std::nullopt);
    EXPECT_EQ(ParseOriginAsn(""), std::nullopt);

    EXPECT_EQ(ParseAsName(kNameText), "EXAMPLE-NET, ZZ");
    EXPECT_EQ(ParseAsName("64500 | ZZ | registry |"), "");
    EXPECT_EQ(ParseAsName("a|b|   NAME  "), "NAME  ");
    EXPECT_EQ(ParseAsName("a|b|   "), "");
    EXPECT_EQ(ParseAsName("EXAMPLE-NET"), "");
}

TEST(NameLookupsTest, ReverseLookupUsesOnlyAFirstPtrRecord) {
    FakeDns dns;
    NameLookups lookups(dns);
    const std::pair<std::string, DnsType> key{"1.2.0.192.in-addr.arpa", DnsType::Ptr};
    dns.answers[key] =
        Answer({Record(DnsType::Ptr, "hop1.example.net"), Record(DnsType::Ptr, "b")});
    EXPECT_EQ(lookups.ReverseLookup(kHop), "hop1.example.net");
    EXPECT_EQ(dns.queries.back(), key);
    EXPECT_FALSE(dns.bypassed);

    dns.answers[key] = Answer({Record(kCname), Record(DnsType::Ptr, "hop1.example.net")});
    EXPECT_EQ(lookups.ReverseLookup(kHop), "");
    dns.answers[key] = Answer({});
    EXPECT_EQ(lookups.ReverseLookup(kHop), "");
    dns.answers[key] = DnsAnswer{false, 9003, {Record(DnsType::Ptr, "stale.example.net")}};
    EXPECT_EQ(lookups.ReverseLookup(kHop), "");
}

TEST(NameLookupsTest, AsnFromOriginThenAsNameAnswers) {
    FakeDns dns;
    NameLookups lookups(dns);
    dns.answers[{kOrigin, DnsType::Txt}] = Txt(kOriginText);
    dns.answers[{"AS64500.asn.cymru.com", DnsType::Txt}] = Txt(kNameText);
    AsnInfo info = lookups.LookupAsn(kHop);
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(info.asn, "64500");
    EXPECT_EQ(info.asName, "EXAMPLE-NET, ZZ");
    ASSERT_EQ(dns.queries.size(), 2u);
    EXPECT_EQ(dns.queries[0].first, kOrigin);
    EXPECT_EQ(dns.queries[1].second, DnsType::Txt);

    // Two origins: the name query is still sent, fails, and leaves the numbers valid.
    lookups.ClearLookupCaches();
    dns.answers[{kOrigin, DnsType::Txt}] = Txt("64500 64501 | 192.0.2.0/24 | ZZ");
    info = lookups.LookupAsn(kHop);
    EXPECT_EQ(dns.queries.back().first, "AS64500 64501.asn.cymru.com");
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(info.asn, "64500 64501");
    EXPECT_EQ(info.asName, "");

    struct Case {
        DnsAnswer origin, name;
        bool valid;
        const char* asn;
        const char* asName;
    };
    const Case cases[] = {
        {Txt(kOriginText), Txt("64500 | ZZ | registry |"), true, "64500", ""},
        {Txt(kOriginText), Answer({Record(kCname), Record(DnsType::Txt, {}, {kNameText})}), true,
         "64500", ""},
        {Txt(kOriginText), Answer({Record(DnsType::Txt)}), true, "64500", ""},
        {Txt("64500 192.0.2.0/24"), Txt(kNameText), false, "", ""},
        {Answer({Record(DnsType::Txt)}), Txt(kNameText), false, "", ""},
        {Answer({Record(kCname), Record(DnsType::Txt, {}, {kOriginText})}), Txt(kNameText), false,
         "", ""},
        {DnsAnswer{}, Txt(kNameText), false, "", ""},
    };
    for (const Case& c : cases) {
        lookups.ClearLookupCaches();
        dns.answers[{kOrigin, DnsType::Txt}] = c.origin;
        dns.answers[{"AS64500.asn.cymru.com", DnsType::Txt}] = c.name;
        info = lookups.LookupAsn(kHop);
        EXPECT_EQ(info.valid, c.valid) << c.asn << "/" << c.asName;
        EXPECT_EQ(info.asn, c.asn);
        EXPECT_EQ(info.asName, c.asName);
    }

    // An empty number is valid but has no name to ask for.
    lookups.ClearLookupCaches();
    dns.answers[{kOrigin, DnsType::Txt}] = Txt("| 192.0.2.0/24");
    const size_t before = dns.queries.size();
    EXPECT_TRUE(lookups.LookupAsn(kHop).valid);
    EXPECT_EQ(dns.queries.size(), before + 1);
}

TEST(NameLookupsTest, CachesPerAddressUntilCleared) {
    FakeDns dns;
    NameLookups lookups(dns);
    const Ipv4Address silent(198, 51, 100, 7);
    dns.answers[{"1.2.0.192.in-addr.arpa", DnsType::Ptr}] = Answer({Record(DnsType::Ptr, "old")});
    dns.answers[{kOrigin, DnsType::Txt}] = Txt(kOriginText);

    EXPECT_EQ(lookups.GetHostnameCached(Ipv4Address()), "");
    EXPECT_FALSE(lookups.LookupAsn(Ipv4Address()).valid);
    EXPECT_EQ(dns.queries.size(), 0u);

    EXPECT_EQ(lookups.GetHostnameCached(kHop), "old");
    EXPECT_EQ(lookups.LookupAsn(kHop).asn, "64500");
    EXPECT_EQ(lookups.GetHostnameCached(silent), "");
    EXPECT_FALSE(lookups.LookupAsn(silent).valid);
    const size_t first = dns.queries.size();  // PTR, origin, AS name, PTR, origin

    dns.answers[{"1.2.0.192.in-addr.arpa", DnsType::Ptr}] = Answer({Record(DnsType::Ptr, "new")});
    dns.answers[{"7.100.51.198.in-addr.arpa", DnsType::Ptr}] = Answer({Record(DnsType::Ptr, "s")});
    EXPECT_EQ(lookups.GetHostnameCached(kHop), "old");
    EXPECT_EQ(lookups.LookupAsn(kHop).asn, "64500");
    EXPECT_EQ(lookups.GetHostnameCached(silent), "");  // failures are cached too
    EXPECT_FALSE(lookups.LookupAsn(silent).valid);
    EXPECT_EQ(dns.queries.size(), first);

    lookups.ClearLookupCaches();
    EXPECT_EQ(lookups.GetHostnameCached(kHop), "new");
    EXPECT_EQ(lookups.GetHostnameCached(silent), "s");
    EXPECT_EQ(lookups.LookupAsn(kHop).asName, "");  // the name zone has no answer now
    EXPECT_EQ(dns.queries.size(), first + 4);
}

TEST(NameLookupsTest, ConcurrentLookupsAndClearsAgree) {
    FakeDns dns;
    NameLookups lookups(dns);
    std::vector<Ipv4Address> hops;
    for (uint8_t i = 1; i <= 4; ++i) {
        const Ipv4Address hop(203, 0, 113, i);
        hops.push_back(hop);
        dns.answers[{ReverseQueryName(hop), DnsType::Ptr}] =
            Answer({Record(DnsType::Ptr, "hop" + std::to_string(i))});
        dns.answers[{OriginQueryName(hop), DnsType::Txt}] =
            Txt("6450" + std::to_string(i) + " | 203.0.113.0/24");
    }
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    auto worker = [&] {
        for (int round = 0; round < 500; ++round) {
            for (size_t i = 0; i < hops.size(); ++i) {
                if (lookups.GetHostnameCached(hops[i]) != "hop" + std::to_string(i + 1)) ++wrong;
                if (lookups.LookupAsn(hops[i]).asn != "6450" + std::to_string(i + 1)) ++wrong;
            }
        }
    };
    std::thread clearer([&] {
        while (!stop) lookups.ClearLookupCaches();
    });
    std::thread a(worker), b(worker);
    a.join();
    b.join();
    stop = true;
    clearer.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace quillon
