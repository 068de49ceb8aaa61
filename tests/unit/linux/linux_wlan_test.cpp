#include "platform/linux/linux_wlan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace quillon::lnx {
namespace {

// The kernel registers the ieee80211 device class together with nl80211: without it (as on
// this build machine) there is no wireless service; with it, the client must answer.
TEST(LinuxWlan, OpensExactlyWhenTheKernelHasWirelessSupport) {
    const bool wireless = std::filesystem::exists("/sys/class/ieee80211");
    LinuxWlan wlan;
    const auto start = std::chrono::steady_clock::now();
    const auto client = wlan.Open();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(client != nullptr, wireless);
    if (!client) return;

    std::vector<WlanInterfaceInfo> interfaces;
    ASSERT_TRUE(client->ListInterfaces(interfaces));
    for (const WlanInterfaceInfo& interface : interfaces) {
        EXPECT_FALSE(interface.description.empty());
        EXPECT_EQ(client->CurrentConnection(interface.id).has_value(), interface.connected);
        std::vector<WlanBssEntry> heard;
        EXPECT_TRUE(client->BssList(interface.id, nullptr, heard));
    }
    std::vector<WlanBssEntry> none;
    EXPECT_FALSE(client->BssList("not an index", nullptr, none));
    EXPECT_FALSE(client->CurrentConnection("0"));
}

}  // namespace
}  // namespace quillon::lnx
