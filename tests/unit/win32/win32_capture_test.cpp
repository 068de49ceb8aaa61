// The packet-capture adapter: device names from adapter records built here and the core's
// choice among them, which libraries it refuses to load, and, where the system has a wpcap
// (Wine brings its own over the host's libpcap), a real capture of UDP sent to loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "discovery/lldp_listener.h"
#include "platform/win32/win32_capture.h"

namespace quillon::win32 {
namespace {

using namespace std::chrono_literals;

TEST(Win32Capture, DevicesAreNamedAfterTheAdapters) {
    SOCKADDR_IN wiredAddress{};
    wiredAddress.sin_family = AF_INET;
    wiredAddress.sin_addr.s_addr = Ipv4Address(192, 168, 1, 20).NetworkOrder();
    IP_ADAPTER_UNICAST_ADDRESS wiredUnicast{};
    wiredUnicast.Address = {reinterpret_cast<SOCKADDR*>(&wiredAddress), sizeof(wiredAddress)};

    char wiredName[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
    char wirelessName[] = "{0B1C2D3E-0000-4000-8000-00AABBCCDDEE}";
    char noName[] = "";
    wchar_t wiredFriendly[] = L"Ethernet";
    wchar_t wirelessFriendly[] = L"Wi-Fi";
    IP_ADAPTER_ADDRESSES unnamed{};
    unnamed.AdapterName = noName;
    IP_ADAPTER_ADDRESSES wireless{};
    wireless.AdapterName = wirelessName;
    wireless.FriendlyName = wirelessFriendly;
    wireless.Next = &unnamed;
    IP_ADAPTER_ADDRESSES wired{};
    wired.AdapterName = wiredName;
    wired.FriendlyName = wiredFriendly;
    wired.FirstUnicastAddress = &wiredUnicast;
    wired.Next = &wireless;

    const std::vector<CaptureDevice> devices = CaptureDevicesOf(&wired);
    ASSERT_EQ(devices.size(), 2u);  // an adapter without a name has no device
    EXPECT_EQ(devices[0].name, "\\Device\\NPF_{4D36E972-E325-11CE-BFC1-08002BE10318}");
    EXPECT_EQ(devices[0].description, "Ethernet");
    EXPECT_EQ(devices[0].ipv4Addresses, std::vector<Ipv4Address>{Ipv4Address(192, 168, 1, 20)});
    EXPECT_EQ(devices[1].name, "\\Device\\NPF_{0B1C2D3E-0000-4000-8000-00AABBCCDDEE}");
    EXPECT_TRUE(devices[1].ipv4Addresses.empty());
    EXPECT_TRUE(CaptureDevicesOf(nullptr).empty());

    // The listener is given the adapter's friendly name and address: the address finds it.
    EXPECT_EQ(MapInterfaceToCaptureDevice(devices, "Ethernet", "192.168.1.20"), devices[0].name);
    EXPECT_EQ(MapInterfaceToCaptureDevice(devices, "Wi-Fi", "10.0.0.9"), "");
}

TEST(Win32Capture, LoadsOnlyAFullPathToAUsableLibrary) {
    const std::vector<std::string> defaults = DefaultWpcapPaths();
    ASSERT_EQ(defaults.size(), 2u);
    EXPECT_NE(defaults[0].find("\\Npcap\\wpcap.dll"), std::string::npos);

    // Missing files, and a system library without the capture entry points.
    const std::string system = defaults[1].substr(0, defaults[1].rfind('\\'));
    Win32Capture missing({system + "\\Npcap\\no-such-wpcap.dll", system + "\\kernel32.dll"});
    EXPECT_FALSE(missing.Load());
    std::vector<CaptureDevice> devices{CaptureDevice{}};
    std::string error;
    EXPECT_FALSE(missing.ListDevices(devices, &error));
    EXPECT_TRUE(devices.empty());
    EXPECT_EQ(error, "capture library not loaded");
    error.clear();
    EXPECT_EQ(missing.Open("\\Device\\NPF_{00000000-0000-0000-0000-000000000000}", 65535, false,
                           1000, &error),
              nullptr);
    EXPECT_EQ(error, "capture library not loaded");

    // A usable library in the current folder is still not loaded by a bare name.
    if (!Win32Capture({defaults[1]}).Load()) GTEST_SKIP() << "no wpcap.dll in System32";
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("quillon-wpcap-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(defaults[1], folder / "wpcap.dll",
                               std::filesystem::copy_options::overwrite_existing);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    EXPECT_FALSE(Win32Capture({"wpcap.dll", ".\\wpcap.dll"}).Load());
    EXPECT_TRUE(Win32Capture({(folder / "wpcap.dll").string()}).Load());
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
}

// Sends UDP datagrams to loopback until told to stop.
class LoopbackSender {
public:
    explicit LoopbackSender(uint16_t port) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        thread_ = std::thread([this, port] {
            SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            while (!stop_) {
                sendto(s, "quillon-capture", 15, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
                std::this_thread::sleep_for(20ms);
            }
            closesocket(s);
        });
    }
    ~LoopbackSender() {
        stop_ = true;
        thread_.join();
        WSACleanup();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(Win32Capture, CapturesLoopbackTrafficWhereAWpcapExists) {
    Win32Capture capture;
    if (!capture.Load()) GTEST_SKIP() << "no packet capture library";
    std::vector<CaptureDevice> devices;
    std::string error;
    ASSERT_TRUE(capture.ListDevices(devices, &error)) << error;
    const std::string device = MapInterfaceToCaptureDevice(devices, "", "127.0.0.1");
    ASSERT_FALSE(device.empty()) << "no device holds the loopback address";

    auto handle = capture.Open(device, 65535, false, 200, &error);
    if (!handle) GTEST_SKIP() << "cannot capture here: " << error;
    EXPECT_FALSE(handle->SetFilter("ether proto nonsense", &error));
    EXPECT_EQ(error.rfind("compile: ", 0), 0u) << error;
    EXPECT_TRUE(handle->SetFilter(kLldpFilter, &error)) << error;

    const uint16_t port = 47000 + static_cast<uint16_t>(GetCurrentProcessId() % 1000);
    ASSERT_TRUE(handle->SetFilter("udp dst port " + std::to_string(port), &error)) << error;
    LoopbackSender sender(port);
    std::vector<uint8_t> packet;
    bool heard = false;
    for (int i = 0; i < 100 && !heard; ++i) {
        if (handle->Next(packet) != CaptureNext::Packet) continue;
        const std::string bytes(packet.begin(), packet.end());
        EXPECT_NE(bytes.find("quillon-capture"), std::string::npos);
        heard = true;
    }
    EXPECT_TRUE(heard);
}

}  // namespace
}  // namespace quillon::win32
