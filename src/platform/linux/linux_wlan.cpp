#include "platform/linux/linux_wlan.h"

#include <errno.h>
#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/log.h"
#include "platform/linux/linux_wlan_parse.h"
#include "platform/linux/netlink_receive.h"

namespace quillon::lnx {

namespace {

// How long one request may wait for the whole of its answer.
constexpr std::chrono::milliseconds kAnswerTimeout{1000};

// The kernel sizes a dump's datagrams by the largest read it has seen, up to 32 KiB; a bigger
// buffer means a cut datagram (MSG_TRUNC) is a real fault, not a big scan.
constexpr size_t kReceiveBufferSize = 64 * 1024;

constexpr uint8_t kControlVersion = 1;
constexpr uint8_t kNl80211Version = 0;

using Attributes = std::function<void(GenlRequest&)>;

class NetlinkSocket {
public:
    explicit NetlinkSocket(int fd) : fd_(fd), buffer_(kReceiveBufferSize) {}
    ~NetlinkSocket() { close(fd_); }
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    // Sends one request and gathers its answer. False when sending or receiving failed, when
    // the answer did not end in time, or when the kernel answered with an error; the error
    // number is then in reply.error.
    bool Ask(uint16_t family, uint16_t flags, uint8_t command, uint8_t version,
             const Attributes& attributes, NetlinkReply& reply) {
        reply = {};
        const uint32_t sequence = ++sequence_;
        GenlRequest request(family, flags, sequence, command, version);
        if (attributes) attributes(request);
        const std::vector<uint8_t>& bytes = request.Bytes();
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        ssize_t sent;
        do {
            sent = sendto(fd_, bytes.data(), bytes.size(), 0,
                          reinterpret_cast<const sockaddr*>(&kernel), sizeof(kernel));
        } while (sent < 0 && errno == EINTR);
        if (sent != static_cast<ssize_t>(bytes.size())) {
            reply.error = sent < 0 ? errno : EIO;
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
        while (!reply.finished) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                reply.error = ETIMEDOUT;
                return false;
            }
            pollfd ready{fd_, POLLIN, 0};
            const int count = poll(&ready, 1, static_cast<int>(left.count()));
            if (count < 0 && errno != EINTR) {
                reply.error = errno;
                return false;
            }
            if (count <= 0) continue;
            const NetlinkDatagram datagram = ReceiveNetlink(fd_, buffer_);
            if (datagram.size < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
                reply.error = errno;
                return false;
            }
            if (datagram.truncated) {
                reply.error = EMSGSIZE;
                return false;
            }
            if (!datagram.fromKernel) continue;  // only the kernel answers
            CollectReply(buffer_.data(), static_cast<size_t>(datagram.size), sequence, reply);
        }
        return reply.error == 0;
    }

private:
    const int fd_;
    uint32_t sequence_ = 0;
    std::vector<uint8_t> buffer_;
};

std::optional<uint32_t> IfIndexOf(const std::string& id) {
    uint32_t value = 0;
    const char* end = id.data() + id.size();
    const auto [at, error] = std::from_chars(id.data(), end, value);
    if (error != std::errc() || at != end || value == 0) return std::nullopt;
    return value;
}

Attributes OnInterface(uint32_t ifindex) {
    return [ifindex](GenlRequest& request) { request.AddU32(NL80211_ATTR_IFINDEX, ifindex); };
}

class LinuxWlanClient final : public WlanClient {
public:
    LinuxWlanClient(std::unique_ptr<NetlinkSocket> socket, uint16_t family)
        : socket_(std::move(socket)), family_(family) {}

    bool ListInterfaces(std::vector<WlanInterfaceInfo>& out) override {
        NetlinkReply reply;
        if (!Ask(NLM_F_DUMP, NL80211_CMD_GET_INTERFACE, nullptr, reply)) return false;
        out.clear();
        for (const GenlMessage& message : reply.messages) {
            const auto interface = ParseInterface(message);
            if (interface && interface->iftype == NL80211_IFTYPE_STATION) {
                out.push_back(InterfaceInfoOf(*interface));
            }
        }
        return true;
    }

    bool RequestScan(const std::string& interfaceId) override {
        const auto ifindex = IfIndexOf(interfaceId);
        if (!ifindex) return false;
        NetlinkReply reply;
        // One wildcard SSID makes the scan active: access points answer at once instead of
        // being heard only at their next beacon on each channel.
        const auto attributes = [&](GenlRequest& request) {
            request.AddU32(NL80211_ATTR_IFINDEX, *ifindex);
            const size_t ssids = request.BeginNested(NL80211_ATTR_SCAN_SSIDS);
            request.AddBytes(1, nullptr, 0);
            request.EndNested(ssids);
        };
        if (Ask(NLM_F_ACK, NL80211_CMD_TRIGGER_SCAN, attributes, reply)) return true;
        // EPERM for a normal user, EBUSY while another scan runs: the cached results serve.
        LogWrite(Debug, "WiFi scan on interface %s not started (error %d)", interfaceId.c_str(),
                 reply.error);
        return false;
    }

    std::optional<WlanConnection> CurrentConnection(const std::string& interfaceId) override {
        const auto interface = Interface(interfaceId);
        if (!interface) return std::nullopt;
        return ConnectionOf(*interface, Scan(interface->ifindex), Stations(interface->ifindex));
    }

    std::optional<uint32_t> Channel(const std::string& interfaceId) override {
        const auto interface = Interface(interfaceId);
        if (!interface) return std::nullopt;
        uint32_t frequency = interface->frequencyMhz;
        if (frequency == 0 && !interface->links.empty()) {
            frequency = interface->links.front().frequencyMhz;
        }
        return ChannelOfFrequency(frequency);
    }

    bool BssList(const std::string& interfaceId, const std::vector<uint8_t>* ssid,
                 std::vector<WlanBssEntry>& out) override {
        out.clear();
        const auto ifindex = IfIndexOf(interfaceId);
        if (!ifindex) return false;
        NetlinkReply reply;
        if (!Ask(NLM_F_DUMP, NL80211_CMD_GET_SCAN, OnInterface(*ifindex), reply)) return false;
        constexpr uint16_t kInfrastructure = 0x0001;  // the capability's ESS bit
        for (const GenlMessage& message : reply.messages) {
            const auto bss = ParseBss(message);
            if (!bss) continue;
            if (ssid != nullptr &&
                (bss->ssid != *ssid || (bss->capability & kInfrastructure) == 0)) {
                continue;
            }
            out.push_back(BssEntryOf(*bss));
        }
        return true;
    }

    std::optional<WlanRealtimeQuality> RealtimeQuality(const std::string& interfaceId) override {
        const auto interface = Interface(interfaceId);
        if (!interface) return std::nullopt;
        const auto stations =
            interface->links.empty() ? Stations(interface->ifindex) : std::vector<WifiStation>{};
        return RealtimeQualityOf(*interface, stations);
    }

private:
    bool Ask(uint16_t flags, uint8_t command, const Attributes& attributes, NetlinkReply& reply) {
        return socket_->Ask(family_, flags, command, kNl80211Version, attributes, reply);
    }

    std::optional<WifiInterface> Interface(const std::string& interfaceId) {
        const auto ifindex = IfIndexOf(interfaceId);
        if (!ifindex) return std::nullopt;
        NetlinkReply reply;
        if (!Ask(NLM_F_ACK, NL80211_CMD_GET_INTERFACE, OnInterface(*ifindex), reply)) {
            return std::nullopt;
        }
        for (const GenlMessage& message : reply.messages) {
            if (auto interface = ParseInterface(message)) return interface;
        }
        return std::nullopt;
    }

    // The kernel's cached scan results; none when it cannot say.
    std::vector<WifiBss> Scan(uint32_t ifindex) {
        std::vector<WifiBss> out;
        NetlinkReply reply;
        if (!Ask(NLM_F_DUMP, NL80211_CMD_GET_SCAN, OnInterface(ifindex), reply)) return out;
        for (const GenlMessage& message : reply.messages) {
            if (auto bss = ParseBss(message)) out.push_back(std::move(*bss));
        }
        return out;
    }

    std::vector<WifiStation> Stations(uint32_t ifindex) {
        std::vector<WifiStation> out;
        NetlinkReply reply;
        if (!Ask(NLM_F_DUMP, NL80211_CMD_GET_STATION, OnInterface(ifindex), reply)) return out;
        for (const GenlMessage& message : reply.messages) {
            if (auto station = ParseStation(message)) out.push_back(*station);
        }
        return out;
    }

    std::unique_ptr<NetlinkSocket> socket_;
    const uint16_t family_;
};

}  // namespace

std::unique_ptr<WlanClient> LinuxWlan::Open() {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_GENERIC);
    if (fd < 0) {
        LogWrite(Debug, "No wireless service: generic netlink socket failed (error %d)", errno);
        return nullptr;
    }
    auto socket = std::make_unique<NetlinkSocket>(fd);
    NetlinkReply reply;
    const auto name = [](GenlRequest& request) {
        request.AddString(CTRL_ATTR_FAMILY_NAME, NL80211_GENL_NAME);
    };
    if (!socket->Ask(GENL_ID_CTRL, NLM_F_ACK, CTRL_CMD_GETFAMILY, kControlVersion, name, reply)) {
        // ENOENT: the kernel has no wireless configuration support loaded.
        LogWrite(Debug, "No wireless service: nl80211 not found (error %d)", reply.error);
        return nullptr;
    }
    for (const GenlMessage& message : reply.messages) {
        if (const auto family = FamilyIdFromAnswer(message)) {
            return std::make_unique<LinuxWlanClient>(std::move(socket), *family);
        }
    }
    LogWrite(Debug, "No wireless service: nl80211 answer without a family id");
    return nullptr;
}

}  // namespace quillon::lnx
