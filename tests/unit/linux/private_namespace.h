// Runs a test body in a forked child inside a network namespace of its own, which vanishes
// with the child, so that live adapter tests never touch the machine's own network.
// Set-up: loopback up and a veth pair qla (10.9.9.1/24, up) <-> qlb (up, no address, never
// answers), then whatever extra `ip` commands the test passes. ICMP datagram sockets are
// allowed for every group. With a router, qlb moves into a second namespace (held by a
// grandchild) as 10.9.9.2, a forwarding router without ICMP rate limits that routes
// 10.8.8.0/24 back towards 10.9.9.1 and has 10.7.7.0/24 unreachable; the test namespace routes
// both networks through it. Root only: callers skip otherwise.
#pragma once

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace quillon::lnx::testing {

inline constexpr char kRouterSetup[] =
    "ip link set lo up && ip addr add 10.9.9.2/24 dev qlb && ip link set qlb up && "
    "ip route add 10.8.8.0/24 via 10.9.9.1 && ip route add unreachable 10.7.7.0/24 && "
    "echo 1 > /proc/sys/net/ipv4/ip_forward && echo 0 > /proc/sys/net/ipv4/icmp_ratelimit";

// In the test namespace's child: starts the router namespace. Returns the write end of the
// pipe that keeps the router alive (closing it ends the router), or -1.
inline int StartRouter() {
    int toRouter[2], fromRouter[2];
    if (pipe(toRouter) != 0 || pipe(fromRouter) != 0) return -1;
    const pid_t router = fork();
    if (router < 0) return -1;
    char c = 0;
    if (router == 0) {
        close(toRouter[1]);
        if (unshare(CLONE_NEWNET) != 0) _exit(3);
        if (write(fromRouter[1], "n", 1) != 1 || read(toRouter[0], &c, 1) != 1) _exit(3);
        const char ok = std::system(kRouterSetup) == 0 ? 'y' : 'n';
        if (write(fromRouter[1], &ok, 1) != 1) _exit(3);
        while (read(toRouter[0], &c, 1) > 0) {
        }
        _exit(0);
    }
    close(toRouter[0]);
    if (read(fromRouter[0], &c, 1) != 1) return -1;
    const std::string move = "ip link set qlb netns " + std::to_string(router);
    if (std::system(move.c_str()) != 0 || write(toRouter[1], "g", 1) != 1) return -1;
    if (read(fromRouter[0], &c, 1) != 1 || c != 'y') return -1;
    if (std::system("ip route add 10.8.8.0/24 via 10.9.9.2 && "
                    "ip route add 10.7.7.0/24 via 10.9.9.2") != 0) {
        return -1;
    }
    return toRouter[1];
}

template <class F>
void InPrivateNamespace(const std::string& extraSetup, F body, bool withRouter = false) {
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A mount namespace too, so that /sys can show this network namespace's devices (sysfs
        // shows those of the namespace that mounted it), as `ip netns exec` arranges.
        if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) _exit(3);
        if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(3);
        umount2("/sys", MNT_DETACH);
        if (mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) _exit(3);
        std::string setup =
            "ip link set lo up && ip link add qla type veth peer name qlb && "
            "ip addr add 10.9.9.1/24 dev qla && ip link set qla up && ip link set qlb up";
        if (!extraSetup.empty()) setup += " && " + extraSetup;
        if (std::system(setup.c_str()) != 0) _exit(4);
        FILE* range = std::fopen("/proc/sys/net/ipv4/ping_group_range", "w");
        if (range == nullptr || std::fputs("0 2147483647", range) < 0) _exit(5);
        std::fclose(range);
        const int router = withRouter ? StartRouter() : -1;
        if (withRouter && router < 0) _exit(6);
        body();
        if (router >= 0) close(router);
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a check failed in the namespace; 3-6: set-up";
}

}  // namespace quillon::lnx::testing
