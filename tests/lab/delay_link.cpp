// delay_link: one lab link with latency. The kernel here has no netem, so this joins two TUN
// devices that live in two network namespaces and carries every packet from one to the other
// after a delay drawn for it (base ± jitter, uniformly; packets may overtake each other, as on
// a real path with jitter). scripts/lab builds and starts it; it runs until killed.
//
//   delay_link NS_A DEV_A NS_B DEV_B DELAY_MS [JITTER_MS]
//
// The devices must exist (persistent, `ip tuntap add mode tun`) with their addresses; the
// namespaces are the names under /run/netns. Packets are IPv4 or IPv6 without a TUN header.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int OpenTun(const std::string& ns, const std::string& device) {
    const std::string path = "/run/netns/" + ns;
    const int nsFd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (nsFd < 0 || setns(nsFd, CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "delay_link: cannot enter %s: %s\n", ns.c_str(), strerror(errno));
        std::exit(1);
    }
    close(nsFd);
    const int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::snprintf(request.ifr_name, IFNAMSIZ, "%s", device.c_str());
    if (fd < 0 || ioctl(fd, TUNSETIFF, &request) != 0) {
        std::fprintf(stderr, "delay_link: cannot attach %s in %s: %s\n", device.c_str(),
                     ns.c_str(), strerror(errno));
        std::exit(1);
    }
    return fd;
}

struct Held {
    Clock::time_point release;
    int toFd;
    std::vector<unsigned char> packet;
    bool operator>(const Held& other) const { return release > other.release; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: delay_link NS_A DEV_A NS_B DEV_B DELAY_MS [JITTER_MS]\n");
        return 2;
    }
    const int a = OpenTun(argv[1], argv[2]);
    const int b = OpenTun(argv[3], argv[4]);
    const double delayMs = std::atof(argv[5]);
    const double jitterMs = argc > 6 ? std::atof(argv[6]) : 0.0;
    std::mt19937 random{std::random_device{}()};
    std::uniform_real_distribution<double> draw(-jitterMs, jitterMs);

    std::priority_queue<Held, std::vector<Held>, std::greater<>> held;
    unsigned char buffer[65536];
    for (;;) {
        int waitMs = -1;
        if (!held.empty()) {
            const auto left = held.top().release - Clock::now();
            waitMs = static_cast<int>(
                std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        if (poll(fds, 2, waitMs) < 0 && errno != EINTR) return 1;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            for (;;) {
                const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
                if (n <= 0) break;
                const double ms = std::max(0.0, delayMs + draw(random));
                const auto release =
                    Clock::now() + std::chrono::microseconds(static_cast<int64_t>(ms * 1000));
                held.push(Held{release, i == 0 ? b : a, {buffer, buffer + n}});
            }
        }
        const auto now = Clock::now();
        while (!held.empty() && held.top().release <= now) {
            const Held& next = held.top();
            // A full device queue drops the packet, as a congested link would.
            [[maybe_unused]] ssize_t written = write(next.toFd, next.packet.data(), next.packet.size());
            held.pop();
        }
    }
}
