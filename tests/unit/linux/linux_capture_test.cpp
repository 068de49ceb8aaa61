#include "platform/linux/linux_capture.h"

#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "discovery/lldp_listener.h"
#include "private_namespace.h"

namespace quillon::lnx {
namespace {

TEST(LinuxCapture, WithoutTheLibraryNothingOpens) {
    LinuxCapture capture({"libquillon-no-such-capture.so.0"});
    EXPECT_FALSE(capture.Load());
    std::vector<CaptureDevice> devices;
    std::string error;
    EXPECT_FALSE(capture.ListDevices(devices, &error));
    EXPECT_FALSE(capture.Open("lo", 65535, false, 1000, &error));
    EXPECT_FALSE(error.empty());
}

// Sends one raw Ethernet frame out of `device`.
bool SendFrame(const char* device, std::vector<uint8_t> frame) {
    const int s = socket(AF_PACKET, SOCK_RAW, 0);
    if (s < 0) return false;
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = static_cast<int>(if_nametoindex(device));
    to.sll_halen = 6;
    std::copy(frame.begin(), frame.begin() + 6, to.sll_addr);
    const auto sent =
        sendto(s, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(s);
    return sent == static_cast<ssize_t>(frame.size());
}

TEST(LinuxCapture, HearsOnlyLldpFramesAndTimesOut) {
    if (geteuid() != 0) GTEST_SKIP() << "capturing in a private namespace needs root";
    if (!LinuxCapture().Load()) GTEST_SKIP() << "libpcap is not installed (scripts/setup)";
    testing::InPrivateNamespace("", [] {
        LinuxCapture capture;
        ASSERT_TRUE(capture.Load());
        std::vector<CaptureDevice> devices;
        std::string error;
        ASSERT_TRUE(capture.ListDevices(devices, &error)) << error;
        EXPECT_EQ(MapInterfaceToCaptureDevice(devices, "", "10.9.9.1"), "qla");

        EXPECT_FALSE(capture.Open("qlz", kLldpSnapLength, false, 1000, &error));
        EXPECT_FALSE(error.empty());
        auto handle = capture.Open("qla", kLldpSnapLength, false, kLldpReadTimeoutMs, &error);
        ASSERT_TRUE(handle) << error;
        EXPECT_FALSE(handle->SetFilter("ether proto nonsense", &error));
        ASSERT_TRUE(handle->SetFilter(kLldpFilter, &error)) << error;

        std::vector<uint8_t> lldp = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x0e, 2, 0,   0,    0,
                                     0,    7,    0x88, 0xcc, 0x02, 0x02, 7, 'c', 0x00, 0x00};
        std::vector<uint8_t> other = lldp;
        other[12] = 0x08, other[13] = 0x00;  // the right address, IPv4
        std::vector<uint8_t> elsewhere = lldp;
        elsewhere[5] = 0x03;  // LLDP to another group
        ASSERT_TRUE(SendFrame("qlb", other));
        ASSERT_TRUE(SendFrame("qlb", elsewhere));
        ASSERT_TRUE(SendFrame("qlb", lldp));
        std::vector<uint8_t> packet;
        CaptureNext next = CaptureNext::Timeout;
        for (int i = 0; i < 3 && next != CaptureNext::Packet; ++i) next = handle->Next(packet);
        ASSERT_EQ(next, CaptureNext::Packet);
        ASSERT_GE(packet.size(), lldp.size());
        EXPECT_TRUE(std::equal(lldp.begin(), lldp.end(), packet.begin()));

        // Nothing more arrives: the read gives up after about its time-out.
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(handle->Next(packet), CaptureNext::Timeout);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    });
}

}  // namespace
}  // namespace quillon::lnx
