// The network adapters: the IP Helper's records and reply buffers read from bytes and rows
// built here, then the real calls under Wine (ICMP to loopback only).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "platform/win32/win32_icmp.h"
#include "platform/win32/win32_icmp_parse.h"
#include "platform/win32/win32_net_info.h"
#include "platform/win32/win32_net_parse.h"

namespace quillon::win32 {
namespace {

// One reply record as a 64-bit process receives it (the data and option pointers zeroed).
std::vector<uint8_t> ReplyRecord(std::initializer_list<uint8_t> address, uint32_t status,
                                 uint32_t rttMs) {
    std::vector<uint8_t> bytes(address);
    for (uint32_t value : {status, rttMs}) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    bytes.resize(kEchoReplyRecordSize + 32, 0);  // followed by the echoed data
    return bytes;
}

TEST(Win32NetParse, EchoReplyBuffers) {
    auto reply = ReplyRecord({127, 0, 0, 1}, 0, 3);
    EchoOutcome outcome = EchoOutcomeOf(reply.data(), reply.size(), 1, 0);
    EXPECT_TRUE(outcome.answered);
    EXPECT_EQ(outcome.reply.status, kIcmpStatusSuccess);
    EXPECT_EQ(outcome.reply.address, Ipv4Address(127, 0, 0, 1));
    EXPECT_EQ(outcome.reply.rttMs, 3u);

    // 11013 = 0x2B05, a router on the way.
    const std::vector<uint8_t> expired = {192, 0, 2, 1, 0x05, 0x2B, 0, 0, 12, 0, 0, 0, 0, 0,
                                          0,   0, 0, 0, 0,    0,    0, 0, 0,  0, 0, 0, 0, 0,
                                          0,   0, 0, 0, 0,    0,    0, 0, 0,  0, 0, 0};
    outcome = EchoOutcomeOf(expired.data(), expired.size(), 1, 0);
    EXPECT_TRUE(outcome.answered);
    EXPECT_EQ(outcome.reply.status, kIcmpStatusTtlExpiredTransit);
    EXPECT_EQ(outcome.reply.address, Ipv4Address(192, 0, 2, 1));
    EXPECT_EQ(outcome.reply.rttMs, 12u);
    EXPECT_FALSE(EchoOutcomeOf(expired.data(), expired.size() - 1, 1, 0).answered);

    reply = ReplyRecord({10, 0, 0, 1}, 11010, 0);
    EXPECT_FALSE(EchoOutcomeOf(reply.data(), reply.size(), 1, 0).answered);
    reply = ReplyRecord({10, 0, 0, 1}, 42, 0);  // no IP_* status
    outcome = EchoOutcomeOf(reply.data(), reply.size(), 1, 0);
    EXPECT_EQ(outcome.reply.status, kIcmpStatusGeneralFailure);

    // Nothing in the buffer: the last error decides.
    outcome = EchoOutcomeOf(reply.data(), reply.size(), 0, kIcmpStatusTimedOut);
    EXPECT_FALSE(outcome.answered);
    EXPECT_EQ(outcome.reply.status, kIcmpStatusTimedOut);
    outcome = EchoOutcomeOf(nullptr, 0, 0, 11003);  // refused locally: no route
    EXPECT_TRUE(outcome.answered);
    EXPECT_EQ(outcome.reply.status, 11003u);
    outcome = EchoOutcomeOf(nullptr, 0, 0, ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(outcome.answered);
    EXPECT_EQ(outcome.reply.status, kIcmpStatusGeneralFailure);
}

SOCKADDR_INET Inet4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    SOCKADDR_INET address{};
    address.Ipv4.sin_family = AF_INET;
    address.Ipv4.sin_addr.s_addr = Ipv4Address(a, b, c, d).NetworkOrder();
    return address;
}

SOCKADDR_INET Inet6() {
    SOCKADDR_INET address{};
    address.Ipv6.sin6_family = AF_INET6;
    address.Ipv6.sin6_addr.s6_addr[15] = 1;
    return address;
}

TEST(Win32NetParse, RouteRows) {
    MIB_IPFORWARD_ROW2 row{};
    row.DestinationPrefix.Prefix = Inet4(0, 0, 0, 0);
    row.DestinationPrefix.PrefixLength = 0;
    row.NextHop = Inet4(192, 168, 1, 1);
    row.InterfaceIndex = 7;
    row.Metric = 0;
    auto route = RouteOf(row, 25);
    ASSERT_TRUE(route);
    EXPECT_TRUE(route->destination.IsZero());
    EXPECT_TRUE(route->mask.IsZero());
    EXPECT_EQ(route->nextHop, Ipv4Address(192, 168, 1, 1));
    EXPECT_EQ(route->ifIndex, 7u);
    EXPECT_EQ(route->metric, 25u);

    row.DestinationPrefix.Prefix = Inet4(192, 168, 1, 0);
    row.DestinationPrefix.PrefixLength = 24;
    row.NextHop = Inet4(0, 0, 0, 0);  // on-link
    row.Metric = 256;
    route = RouteOf(row, 25);
    ASSERT_TRUE(route);
    EXPECT_EQ(route->destination, Ipv4Address(192, 168, 1, 0));
    EXPECT_EQ(route->mask, Ipv4Address(255, 255, 255, 0));
    EXPECT_TRUE(route->nextHop.IsZero());
    EXPECT_EQ(route->metric, 281u);
    row.DestinationPrefix.PrefixLength = 32;
    EXPECT_EQ(RouteOf(row, 0)->mask, Ipv4Address(255, 255, 255, 255));
    row.DestinationPrefix.PrefixLength = 17;
    EXPECT_EQ(RouteOf(row, 0)->mask, Ipv4Address(255, 255, 128, 0));

    row.DestinationPrefix.Prefix = Inet6();
    EXPECT_FALSE(RouteOf(row, 0));
}

TEST(Win32NetParse, NeighborRows) {
    MIB_IPNET_ROW2 row{};
    row.Address = Inet4(192, 168, 1, 1);
    row.InterfaceIndex = 7;
    const uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    std::memcpy(row.PhysicalAddress, mac, 6);
    row.PhysicalAddressLength = 6;
    row.State = NlnsReachable;
    auto entry = NeighborOf(row);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->address, Ipv4Address(192, 168, 1, 1));
    EXPECT_EQ(entry->ifIndex, 7u);
    EXPECT_EQ(entry->mac, (MacAddress{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));
    EXPECT_TRUE(entry->complete);
    row.State = NlnsStale;
    EXPECT_TRUE(NeighborOf(row)->complete);
    row.State = NlnsIncomplete;
    EXPECT_FALSE(NeighborOf(row)->complete);
    row.State = NlnsReachable;
    row.PhysicalAddressLength = 0;
    EXPECT_FALSE(NeighborOf(row)->complete);

    // The system's fixed entries for group and broadcast addresses are no neighbours.
    row.PhysicalAddressLength = 6;
    row.State = NlnsPermanent;
    row.Address = Inet4(224, 0, 0, 22);
    EXPECT_FALSE(NeighborOf(row));
    row.Address = Inet4(255, 255, 255, 255);
    EXPECT_FALSE(NeighborOf(row));
    row.Address = Inet4(192, 168, 1, 255);
    std::memset(row.PhysicalAddress, 0xFF, 6);
    EXPECT_FALSE(NeighborOf(row));
    row.Address = Inet6();
    EXPECT_FALSE(NeighborOf(row));
}

TEST(Win32NetParse, AdapterRecords) {
    SOCKADDR_IN v4{};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = Ipv4Address(192, 168, 1, 20).NetworkOrder();
    SOCKADDR_IN6 v6{};
    v6.sin6_family = AF_INET6;
    const uint8_t linkLocal[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0x1a, 0, 0, 0, 0, 0, 1};
    std::memcpy(&v6.sin6_addr, linkLocal, 16);
    SOCKADDR_IN gateway{};
    gateway.sin_family = AF_INET;
    gateway.sin_addr.s_addr = Ipv4Address(192, 168, 1, 1).NetworkOrder();

    IP_ADAPTER_UNICAST_ADDRESS second{};
    second.Address = {reinterpret_cast<SOCKADDR*>(&v4), sizeof(v4)};
    IP_ADAPTER_UNICAST_ADDRESS first{};
    first.Address = {reinterpret_cast<SOCKADDR*>(&v6), sizeof(v6)};
    first.Next = &second;
    IP_ADAPTER_GATEWAY_ADDRESS_LH v6Gateway{};
    v6Gateway.Address = {reinterpret_cast<SOCKADDR*>(&v6), sizeof(v6)};
    IP_ADAPTER_GATEWAY_ADDRESS_LH v4Gateway{};
    v4Gateway.Address = {reinterpret_cast<SOCKADDR*>(&gateway), sizeof(gateway)};
    v4Gateway.Next = &v6Gateway;

    wchar_t friendly[] = L"Ethernet \u00e9";
    wchar_t description[] = L"Intel(R) Ethernet Connection";
    IP_ADAPTER_ADDRESSES record{};
    record.FriendlyName = friendly;
    record.Description = description;
    record.IfIndex = 12;
    record.IfType = kIfTypeEthernet;
    record.OperStatus = IfOperStatusUp;
    record.Mtu = 1500;
    record.TransmitLinkSpeed = 1'000'000'000;
    const uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    std::memcpy(record.PhysicalAddress, mac, 6);
    record.PhysicalAddressLength = 6;
    record.FirstUnicastAddress = &first;
    record.FirstGatewayAddress = &v4Gateway;

    NetAdapter adapter = AdapterOf(record);
    EXPECT_EQ(adapter.friendlyName, "Ethernet \xc3\xa9");
    EXPECT_EQ(adapter.description, "Intel(R) Ethernet Connection");
    EXPECT_EQ(adapter.ifIndex, 12u);
    EXPECT_EQ(adapter.ifType, kIfTypeEthernet);
    EXPECT_TRUE(adapter.operStatusUp);
    EXPECT_EQ(adapter.mtu, 1500u);
    EXPECT_EQ(adapter.transmitLinkSpeed, 1'000'000'000u);
    EXPECT_EQ(adapter.physicalAddress, std::vector<uint8_t>(mac, mac + 6));
    EXPECT_EQ(adapter.ipv4Unicast, std::vector<Ipv4Address>{Ipv4Address(192, 168, 1, 20)});
    EXPECT_EQ(adapter.ipv6Unicast, std::vector<std::string>{"fe80::21a:0:0:1"});
    EXPECT_EQ(adapter.ipv4Gateways, std::vector<Ipv4Address>{Ipv4Address(192, 168, 1, 1)});

    record.OperStatus = IfOperStatusDown;
    record.TransmitLinkSpeed = ~0ull;  // unknown
    adapter = AdapterOf(record);
    EXPECT_FALSE(adapter.operStatusUp);
    EXPECT_EQ(adapter.transmitLinkSpeed, 0u);

    const auto text = [](std::initializer_list<uint8_t> bytes) {
        uint8_t address[16] = {};
        std::copy(bytes.begin(), bytes.end(), address);
        return Ipv6Text(address);
    };
    EXPECT_EQ(text({}), "::");
    EXPECT_EQ(text({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), "::1");
    EXPECT_EQ(text({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}),
              "2001:db8:0:1:1:1:1:1");  // a lone zero group stays
    EXPECT_EQ(text({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0}),
              "2001:db8:0:1::1:0");
    EXPECT_EQ(text({0x20, 0x01, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0}),
              "2001::1:0:0:1:0");  // the first of two equal runs
    EXPECT_EQ(text({0x20, 0x01}), "2001::");
}

// Wine builds the route table from the host's main table, which has no loopback route, so
// routes and neighbours are checked for agreeing with the adapters rather than for content.
TEST(Win32NetInfo, RealTablesHoldLoopbackAndAgree) {
    Win32NetInfo info;
    std::vector<NetAdapter> adapters;
    ASSERT_TRUE(info.ListAdapters(adapters));
    bool loopback = false;
    std::set<uint32_t> indexes;
    for (const NetAdapter& adapter : adapters) {
        EXPECT_FALSE(adapter.friendlyName.empty());
        EXPECT_TRUE(indexes.insert(adapter.ifIndex).second) << adapter.ifIndex;
        for (Ipv4Address address : adapter.ipv4Unicast) {
            loopback = loopback || address == Ipv4Address(127, 0, 0, 1);
        }
    }
    EXPECT_TRUE(loopback);

    std::vector<Ipv4Route> routes;
    ASSERT_TRUE(info.ListRoutes(routes));
    for (const Ipv4Route& route : routes) {
        EXPECT_EQ(route.destination & route.mask, route.destination);
        EXPECT_TRUE(indexes.count(route.ifIndex)) << route.ifIndex;
    }
    std::vector<NeighborEntry> neighbors;
    ASSERT_TRUE(info.ListNeighbors(neighbors));
    for (const NeighborEntry& entry : neighbors) {
        EXPECT_TRUE(indexes.count(entry.ifIndex)) << entry.ifIndex;
    }
}

TEST(Win32Icmp, EchoesLoopback) {
    Win32Icmp icmp;
    auto handle = icmp.Open();
    ASSERT_NE(handle, nullptr);
    const uint8_t payload[32] = {'q'};
    EchoRequest request;
    request.destination = Ipv4Address(127, 0, 0, 1);
    request.payload = payload;
    request.payloadSize = sizeof(payload);
    request.timeoutMs = 2000;
    EchoReply reply;
    ASSERT_TRUE(handle->Echo(request, reply));
    EXPECT_EQ(reply.status, kIcmpStatusSuccess);
    EXPECT_EQ(reply.address, Ipv4Address(127, 0, 0, 1));
    EXPECT_LT(reply.rttMs, 1000u);

    for (uint8_t ttl : {uint8_t(0), uint8_t(64)}) {
        request.ttl = ttl;
        const EchoStart start = handle->StartEcho(request);
        ASSERT_NE(start, EchoStart::Failed);
        EXPECT_EQ(handle->StartEcho(request), EchoStart::Failed);  // one at a time
        reply = EchoReply{};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        bool done = false;
        while (!(done = handle->PollEcho(reply)) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(done);
        EXPECT_EQ(reply.status, kIcmpStatusSuccess);
        EXPECT_EQ(reply.address, Ipv4Address(127, 0, 0, 1));
        EXPECT_FALSE(handle->PollEcho(reply));  // nothing outstanding any more
    }
    // Blocking echoes from several threads share the handle, each with its own buffer.
    request.ttl = 0;
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                EchoReply own;
                if (handle->Echo(request, own) && own.status == kIcmpStatusSuccess &&
                    own.address == request.destination) {
                    ++answered;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(answered.load(), 20);

    // A handle closed with a request in flight waits for the system to let go of its buffer.
    ASSERT_NE(handle->StartEcho(request), EchoStart::Failed);
    handle.reset();
}

}  // namespace
}  // namespace quillon::win32
