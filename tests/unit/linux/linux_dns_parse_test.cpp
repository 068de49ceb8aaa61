#include "platform/linux/linux_dns_parse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon::lnx {
namespace {

// A name as labels: "a.bc" is {1, 'a', 2, 'b', 'c', 0}.
std::vector<uint8_t> NameData(const std::string& name) {
    std::vector<uint8_t> out;
    size_t start = 0;
    while (start < name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos) dot = name.size();
        out.push_back(static_cast<uint8_t>(dot - start));
        out.insert(out.end(), name.begin() + start, name.begin() + dot);
        start = dot + 1;
    }
    out.push_back(0);
    return out;
}

// Builds response messages the way a server would, with optional name compression.
class Message {
public:
    explicit Message(int rcode = 0, uint16_t answers = 0) {
        bytes_ = {0x12, 0x34, 0x81, static_cast<uint8_t>(0x80 | rcode), 0, 1, 0, 0, 0, 0, 0, 0};
        bytes_[7] = static_cast<uint8_t>(answers);
    }
    Message& Question(const std::string& name, uint16_t type) {
        questionAt_ = bytes_.size();
        const std::vector<uint8_t> encoded = NameData(name);
        bytes_.insert(bytes_.end(), encoded.begin(), encoded.end());
        Put16(type);
        Put16(1);
        return *this;
    }
    // An answer whose owner is a pointer to the question name.
    Message& Answer(uint16_t type, const std::vector<uint8_t>& data) {
        Put16(static_cast<uint16_t>(0xC000 | questionAt_));
        Put16(type);
        Put16(1);
        Put16(0);
        Put16(300);
        Put16(static_cast<uint16_t>(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    size_t QuestionAt() const { return questionAt_; }
    std::vector<uint8_t> bytes_;

private:
    void Put16(uint16_t v) {
        bytes_.push_back(static_cast<uint8_t>(v >> 8));
        bytes_.push_back(static_cast<uint8_t>(v));
    }
    size_t questionAt_ = 0;
};

std::vector<uint8_t> TxtData(const std::vector<std::string>& strings) {
    std::vector<uint8_t> out;
    for (const std::string& s : strings) {
        out.push_back(static_cast<uint8_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

DnsAnswer Parse(const Message& m) {
    return ParseDnsResponse(m.bytes_.data(), m.bytes_.size());
}

TEST(LinuxDnsParse, PtrAnswerGivesTheTargetName) {
    Message m(0, 1);
    m.Question("1.2.0.192.in-addr.arpa", 12).Answer(12, NameData("host.example.net"));
    const DnsAnswer a = Parse(m);
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.records.size(), 1u);
    EXPECT_EQ(a.records[0].type, DnsType::Ptr);
    EXPECT_EQ(a.records[0].name, "1.2.0.192.in-addr.arpa");
    EXPECT_EQ(a.records[0].ptr, "host.example.net");
    size_t next = 0;
    EXPECT_EQ(ReadDnsName(m.bytes_.data(), m.bytes_.size(), m.QuestionAt(), &next),
              "1.2.0.192.in-addr.arpa");
}

TEST(LinuxDnsParse, CnameFirstKeepsOrderAndTypeAndCompressedTargets) {
    Message m(0, 2);
    m.Question("1.2.0.192.in-addr.arpa", 12);
    // CNAME target "x." followed by a pointer back to the question name.
    std::vector<uint8_t> target = {1, 'x', 0xC0, static_cast<uint8_t>(m.QuestionAt())};
    m.Answer(kDnsTypeCname, target).Answer(12, NameData("late.example"));
    const DnsAnswer a = Parse(m);
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.records.size(), 2u);
    EXPECT_EQ(static_cast<uint16_t>(a.records[0].type), kDnsTypeCname);
    EXPECT_EQ(a.records[0].ptr, "x.1.2.0.192.in-addr.arpa");
    EXPECT_EQ(a.records[1].type, DnsType::Ptr);
}

TEST(LinuxDnsParse, TxtRecordsKeepEveryStringIncludingEmptyOnes) {
    Message m(0, 3);
    m.Question("1.2.0.192.origin.example", 16)
        .Answer(16, TxtData({"64500 | 192.0.2.0/24 | ZZ", "second"}))
        .Answer(16, TxtData({""}))
        .Answer(16, {});
    const DnsAnswer a = Parse(m);
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.records.size(), 3u);
    EXPECT_EQ(a.records[0].strings,
              (std::vector<std::string>{"64500 | 192.0.2.0/24 | ZZ", "second"}));
    EXPECT_EQ(a.records[1].strings, std::vector<std::string>{""});
    EXPECT_TRUE(a.records[2].strings.empty());
}

TEST(LinuxDnsParse, AAnswersAreNetworkOrderAndOtherTypesKeepTheirNumber) {
    Message m(0, 2);
    m.Question("example.net", 1).Answer(1, {192, 0, 2, 7}).Answer(28, std::vector<uint8_t>(16));
    const DnsAnswer a = Parse(m);
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.records.size(), 2u);
    EXPECT_EQ(a.records[0].a, Ipv4Address(192, 0, 2, 7));
    EXPECT_EQ(static_cast<uint16_t>(a.records[1].type), 28);
}

TEST(LinuxDnsParse, ErrorsAndMalformedMessagesNeverYieldRecords) {
    Message nx(3, 0);
    nx.Question("nothing.example", 12);
    EXPECT_FALSE(Parse(nx).ok);
    EXPECT_EQ(Parse(nx).error, 3);

    Message good(0, 1);
    good.Question("example.net", 16).Answer(16, TxtData({"abc"}));
    for (size_t n = 0; n < good.bytes_.size(); ++n) {
        const DnsAnswer a = ParseDnsResponse(good.bytes_.data(), n);
        EXPECT_FALSE(a.ok) << n << " bytes";
        EXPECT_TRUE(a.records.empty());
    }

    Message badTxt(0, 1);
    badTxt.Question("example.net", 16).Answer(16, {5, 'a', 'b'});  // string runs past its data
    EXPECT_EQ(Parse(badTxt).error, kDnsParseMalformed);

    Message badA(0, 1);
    badA.Question("example.net", 1).Answer(1, {1, 2, 3});
    EXPECT_FALSE(Parse(badA).ok);

    Message loop(0, 1);
    loop.Question("example.net", 12);
    const uint8_t self = static_cast<uint8_t>(loop.bytes_.size() + 12);  // the PTR data itself
    loop.Answer(12, {0xC0, self});
    EXPECT_EQ(Parse(loop).error, kDnsParseMalformed);

    Message query = good;
    query.bytes_[2] &= 0x7F;  // a query, not a response
    EXPECT_FALSE(Parse(query).ok);
    EXPECT_FALSE(ParseDnsResponse(nullptr, 0).ok);
}

}  // namespace
}  // namespace quillon::lnx
