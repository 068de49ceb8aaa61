#include "discovery/public_ip_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "discovery/name_lookups.h"
#include "fakes/held_threads.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"
#include "platform/threads.h"

namespace quillon {
namespace {

using test::HeldThreads;

constexpr Ipv4Address kPublic(203, 0, 113, 45);
constexpr Ipv4Address kOtherPublic(198, 51, 100, 77);

sim::WorldConfig Home(Ipv4Address publicAddress) {
    sim::WorldBuilder b;
    b.Home()
        .Path(Ipv4Address(1, 1, 1, 1))
        .Hop(sim::kHomeGateway, 2)
        .Hop(Ipv4Address(203, 0, 113, 1), 9)
        .As(64500, "EXAMPLE-NET, ZZ")
        .Stun(publicAddress, 51234)
        .TxtAnswer("45.113.0.203.origin.asn.cymru.com",
                   {"64500 | 203.0.113.0/24 | ZZ | registry | 2000-01-01"});
    DnsRecord ptr;
    ptr.type = DnsType::Ptr;
    ptr.ptr = "cpe-45.example.net";
    b.Answer("45.113.0.203.in-addr.arpa", DnsType::Ptr, DnsAnswer{true, 0, {ptr}});
    return b.Build();
}

struct Rig {
    explicit Rig(Ipv4Address publicAddress)
        : network(Home(publicAddress), clock),
          lookups(network.dns()),
          service(PublicIpContext{network.sockets(), threads, clock, lookups,
                                  StunServer{"stun.cloudflare.com", 3478},
                                  [this] { return generation; }}) {}
    sim::VirtualClock clock;
    sim::SimNetwork network;
    HeldThreads threads;
    NameLookups lookups;
    uint64_t generation = 1;
    PublicIpService service;
};

TEST(PublicIpService, LearnsOnAWorkerOnceAndNamesTheAddress) {
    Rig rig(kPublic);
    // Nothing known yet: the call returns at once and a worker learns.
    EXPECT_FALSE(rig.service.GetPublicIpInfo().valid);
    ASSERT_EQ(rig.threads.held.size(), 1u);
    EXPECT_FALSE(rig.service.GetPublicIpInfo().valid);
    EXPECT_EQ(rig.threads.held.size(), 1u);  // one exchange at a time
    const uint64_t changes = rig.service.Changes();

    rig.threads.RunHeld();
    const PublicIpInfo info = rig.service.GetPublicIpInfo();
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(info.ipAddress, "203.0.113.45");
    EXPECT_EQ(info.ip, kPublic);
    EXPECT_EQ(info.port, 51234);
    EXPECT_EQ(info.hostname, "cpe-45.example.net");
    EXPECT_EQ(info.asn, "64500");
    EXPECT_EQ(info.asName, "EXAMPLE-NET, ZZ");
    EXPECT_GT(rig.service.Changes(), changes);

    // Learned once: later calls make no traffic, even long after.
    rig.clock.Advance(3'600'000);
    EXPECT_TRUE(rig.service.GetPublicIpInfo().valid);
    EXPECT_TRUE(rig.threads.held.empty());
    EXPECT_EQ(rig.network.world().StunRequests(), 1);
}

TEST(PublicIpService, AnotherNetworkForgetsTheAddressAtOnceAndLearnsItAgain) {
    Rig rig(kPublic);
    rig.service.GetPublicIpInfo();
    rig.threads.RunHeld();
    ASSERT_EQ(rig.service.GetPublicIpInfo().ipAddress, "203.0.113.45");

    // The gateway changed: the old address is never returned as current again.
    rig.network.world().Apply(sim::PublicAddress(kOtherPublic));
    rig.generation = 2;
    EXPECT_FALSE(rig.service.GetPublicIpInfo().valid);
    ASSERT_EQ(rig.threads.held.size(), 1u);

    // An answer that comes in after the network changed again belongs to the one in between.
    rig.generation = 3;
    rig.threads.RunHeld();
    EXPECT_FALSE(rig.service.GetPublicIpInfo().valid);
    ASSERT_EQ(rig.threads.held.size(), 1u);  // learning for the current one at once
    rig.threads.RunHeld();
    const PublicIpInfo info = rig.service.GetPublicIpInfo();
    EXPECT_TRUE(info.valid);
    EXPECT_EQ(info.ipAddress, "198.51.100.77");
    EXPECT_EQ(info.hostname, "");  // no names for this one in the world
    EXPECT_EQ(rig.network.world().StunRequests(), 3);
}

TEST(PublicIpService, UnansweredExchangesAreRetriedNoSoonerThanTheRetryTime) {
    Rig rig(kPublic);
    rig.network.world().Apply(
        sim::PublicAddress(Ipv4Address()));  // the server never answers: UDP blocked
    rig.service.GetPublicIpInfo();
    rig.threads.RunHeld();  // waits out the receive time-out
    EXPECT_FALSE(rig.service.GetPublicIpInfo().valid);
    EXPECT_TRUE(rig.threads.held.empty());
    rig.clock.Advance(PublicIpService::kRetryMs - PublicIpService::kReceiveTimeoutMs - 1);
    rig.service.GetPublicIpInfo();
    EXPECT_TRUE(rig.threads.held.empty());

    rig.clock.Advance(1);
    rig.network.world().Apply(sim::PublicAddress(kPublic));
    rig.service.GetPublicIpInfo();
    ASSERT_EQ(rig.threads.held.size(), 1u);
    rig.threads.RunHeld();
    EXPECT_EQ(rig.service.GetPublicIpInfo().ipAddress, "203.0.113.45");

    // After Stop nothing starts any more.
    rig.generation = 2;
    EXPECT_TRUE(rig.service.Stop(std::chrono::milliseconds(10)));
    EXPECT_FALSE(rig.service.GetPublicIpInfo().valid);
    EXPECT_TRUE(rig.threads.held.empty());
}

}  // namespace
}  // namespace quillon
