// Live sockets against responders of the test's own on loopback, and against addresses that
// never answer or have no route inside a private network namespace of a child process (root
// only; skipped otherwise). Names resolve from the hosts file or as literals, or inside the
// namespace, where no query can leave.
#include "platform/linux/linux_sockets.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "base/ipv4.h"
#include "loopback_udp.h"
#include "private_namespace.h"

namespace quillon::lnx {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using testing::BoundSocket;
using testing::Bytes;
using testing::kLoopback;
using testing::UdpResponder;

// The request with a prefix: "re:" from the asked port, "no:" from a stranger.
Bytes Answer(const char* prefix, const Bytes& request) {
    // Sized first: GCC 12 at -O2 takes an insert after a 3-byte vector for an overflow.
    Bytes out(3 + request.size());
    std::copy(prefix, prefix + 3, out.begin());
    std::copy(request.begin(), request.end(), out.begin() + 3);
    return out;
}
void Echo(const Bytes& request, const UdpResponder::Send& send) {
    send(Answer("re:", request), false);
}

const Bytes kRequest = {'s', 't', 'u', 'n'};
const Bytes kAnswer = {'r', 'e', ':', 's', 't', 'u', 'n'};

template <class F>
SteadyClock::duration Timed(F call) {
    const auto start = SteadyClock::now();
    call();
    return SteadyClock::now() - start;
}

TEST(LinuxSockets, UdpExchangeTakesOnlyThePeersAnswerWithinTheTimeout) {
    LinuxSockets sockets;
    UdpExchangeResult result;
    {
        UdpResponder echo(Echo);
        EXPECT_LT(
            Timed([&] { result = sockets.UdpExchange(kLoopback, echo.port(), kRequest, 2000); }),
            1s);
        EXPECT_TRUE(result.sent && result.received);
        EXPECT_EQ(result.answer, kAnswer);
    }
    {
        UdpResponder silent([](const Bytes&, const UdpResponder::Send&) {});
        const auto took =
            Timed([&] { result = sockets.UdpExchange(kLoopback, silent.port(), kRequest, 300); });
        EXPECT_TRUE(result.sent);
        EXPECT_FALSE(result.received);
        EXPECT_TRUE(result.answer.empty());
        EXPECT_GE(took, 300ms);
        EXPECT_LT(took, 1500ms);
    }
    {
        UdpResponder stranger([](const Bytes& request, const UdpResponder::Send& send) {
            send(Answer("no:", request), true);
            std::this_thread::sleep_for(50ms);
            Echo(request, send);
        });
        result = sockets.UdpExchange(kLoopback, stranger.port(), kRequest, 2000);
        EXPECT_TRUE(result.received);
        EXPECT_EQ(result.answer, kAnswer) << "the answer from another port was taken";
    }
    // A closed port refuses at once: no answer, and no waiting out the time-out.
    BoundSocket closed(SOCK_DGRAM);
    closed.Close();
    const auto took =
        Timed([&] { result = sockets.UdpExchange(kLoopback, closed.port(), kRequest, 5000); });
    EXPECT_TRUE(result.sent);
    EXPECT_FALSE(result.received);
    EXPECT_LT(took, 2s);
}

TEST(LinuxSockets, TcpConnectReachesAListenerAndReportsRefusal) {
    LinuxSockets sockets;
    BoundSocket listener(SOCK_STREAM);
    ASSERT_EQ(listen(listener.fd(), 4), 0);
    TcpConnectResult result = sockets.TcpConnect(kLoopback, listener.port(), 2000);
    EXPECT_TRUE(result.connected);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.error, 0);
    pollfd pending{listener.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&pending, 1, 1000), 1) << "the listener saw no connection";

    BoundSocket closed(SOCK_STREAM);
    closed.Close();
    result = sockets.TcpConnect(kLoopback, closed.port(), 2000);
    EXPECT_FALSE(result.connected);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.error, ECONNREFUSED);
}

TEST(LinuxSockets, ResolvesLiteralsAndTheHostsFile) {
    LinuxSockets sockets;
    ResolveResult result = sockets.ResolveIpv4("192.0.2.7");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(result.addresses, std::vector<Ipv4Address>{Ipv4Address(192, 0, 2, 7)});

    result = sockets.ResolveIpv4("localhost");
    ASSERT_TRUE(result.ok);
    EXPECT_NE(std::find(result.addresses.begin(), result.addresses.end(), kLoopback),
              result.addresses.end());
}

// Inside the namespace: 10.9.9.2 sits behind the silent veth peer with a fixed neighbour entry,
// so packets to it leave and vanish; 10.200.0.0/16 has no route at all.
TEST(LinuxSockets, SilentAndUnroutableAddressesInANamespace) {
    if (geteuid() != 0) GTEST_SKIP() << "creating a network namespace needs root";
    testing::InPrivateNamespace(
        "ip neigh add 10.9.9.2 lladdr 02:00:00:00:00:02 dev qla nud permanent", [] {
            LinuxSockets sockets;
            TcpConnectResult tcp;
            auto took =
                Timed([&] { tcp = sockets.TcpConnect(Ipv4Address(10, 9, 9, 2), 443, 300); });
            EXPECT_TRUE(tcp.timedOut);
            EXPECT_FALSE(tcp.connected);
            EXPECT_EQ(tcp.error, 0);
            EXPECT_GE(took, 300ms);
            EXPECT_LT(took, 1500ms);

            tcp = sockets.TcpConnect(Ipv4Address(10, 200, 0, 1), 443, 300);
            EXPECT_FALSE(tcp.connected || tcp.timedOut);
            EXPECT_EQ(tcp.error, ENETUNREACH);

            UdpExchangeResult udp;
            took = Timed(
                [&] { udp = sockets.UdpExchange(Ipv4Address(10, 9, 9, 2), 3478, kRequest, 300); });
            EXPECT_TRUE(udp.sent);
            EXPECT_FALSE(udp.received);
            EXPECT_GE(took, 300ms);
            udp = sockets.UdpExchange(Ipv4Address(10, 200, 0, 1), 3478, kRequest, 300);
            EXPECT_FALSE(udp.sent);

            // A name the hosts file lacks goes to a resolver the namespace cannot reach.
            const ResolveResult resolved = sockets.ResolveIpv4("quillon-test.invalid");
            EXPECT_FALSE(resolved.ok);
            EXPECT_NE(resolved.error, 0);
            EXPECT_TRUE(resolved.addresses.empty());
        });
}

}  // namespace
}  // namespace quillon::lnx
