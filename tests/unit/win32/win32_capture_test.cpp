// The packet-capture adapter: device names from adapter records built here and the core's
// choice among them, which libraries it refuses to load, reading through a stand-in library
// built beside the tests, and the system's own wpcap where there is one.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "discovery/lldp_frame.h"
#include "discovery/lldp_listener.h"
#include "fakes/eventually.h"
#include "platform/portable/std_threads.h"
#include "platform/win32/win32_capture.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_folders.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {
namespace {

// The stand-in library built beside this program (tests/unit/win32/fake_wpcap.cpp).
std::string FakeWpcapPath() {
    const std::wstring program = ExecutablePathWide();
    return Narrow(program.substr(0, program.rfind(L'\\'))) + "\\fake_wpcap.dll";
}

bool FakeWpcapLoaded() {
    return GetModuleHandleW(L"fake_wpcap.dll") != nullptr;
}

TEST(Win32Capture, DevicesAreNamedAfterTheAdapters) {
    SOCKADDR_IN wiredAddress{};
    wiredAddress.sin_family = AF_INET;
    wiredAddress.sin_addr.s_addr = Ipv4Address(192, 168, 1, 20).NetworkOrder();
    IP_ADAPTER_UNICAST_ADDRESS wiredUnicast{};
    wiredUnicast.Address = {reinterpret_cast<SOCKADDR*>(&wiredAddress), sizeof(wiredAddress)};

    char wiredName[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
    char noName[] = "";
    wchar_t wiredFriendly[] = L"Ethernet";
    IP_ADAPTER_ADDRESSES unnamed{};
    unnamed.AdapterName = noName;
    IP_ADAPTER_ADDRESSES wired{};
    wired.AdapterName = wiredName;
    wired.FriendlyName = wiredFriendly;
    wired.FirstUnicastAddress = &wiredUnicast;
    wired.Next = &unnamed;

    const std::vector<CaptureDevice> devices = CaptureDevicesOf(&wired);
    ASSERT_EQ(devices.size(), 1u);  // an adapter without a name has no device
    EXPECT_EQ(devices[0].name, "\\Device\\NPF_{4D36E972-E325-11CE-BFC1-08002BE10318}");
    EXPECT_EQ(devices[0].description, "Ethernet");
    EXPECT_EQ(devices[0].ipv4Addresses, std::vector<Ipv4Address>{Ipv4Address(192, 168, 1, 20)});
    EXPECT_TRUE(CaptureDevicesOf(nullptr).empty());

    // The listener is given the adapter's friendly name and address: the address finds it.
    EXPECT_EQ(MapInterfaceToCaptureDevice(devices, "Ethernet", "192.168.1.20"), devices[0].name);
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
    const std::string fake = FakeWpcapPath();
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(fake).parent_path());
    EXPECT_FALSE(Win32Capture({"fake_wpcap.dll", ".\\fake_wpcap.dll"}).Load());
    std::filesystem::current_path(previous);
    EXPECT_TRUE(Win32Capture({fake}).Load());
}

TEST(Win32Capture, ReadsThroughTheLibraryAndGivesEverythingBack) {
    const std::string path = FakeWpcapPath();
    // Held here too, so that its counters can be read after the adapter let go.
    const HMODULE held = LoadLibraryW(Wide(path).c_str());
    ASSERT_NE(held, nullptr) << path;
    using Counters = void (*)(LONG*);
    const auto counters = reinterpret_cast<Counters>(
        reinterpret_cast<void*>(GetProcAddress(held, "fake_wpcap_counters")));
    ASSERT_NE(counters, nullptr);
    {
        Win32Capture capture({path});
        ASSERT_TRUE(capture.Load());
        std::string error;
        EXPECT_EQ(capture.Open("\\Device\\NPF_{missing}", 65535, false, 1000, &error), nullptr);
        EXPECT_EQ(error, "no such adapter");
        auto handle = capture.Open("\\Device\\NPF_{4D36E972-E325-11CE-BFC1-08002BE10318}", 65535,
                                   false, 1000, &error);
        ASSERT_NE(handle, nullptr) << error;
        EXPECT_FALSE(handle->SetFilter("ether proto nonsense", &error));
        EXPECT_EQ(error, "compile: syntax error");
        EXPECT_FALSE(handle->SetFilter("reject", &error));
        EXPECT_EQ(error, "set: cannot set");
        EXPECT_TRUE(handle->SetFilter(kLldpFilter, &error)) << error;

        // Only the captured bytes, not the length the frame had on the wire.
        std::vector<uint8_t> packet;
        ASSERT_EQ(handle->Next(packet), CaptureNext::Packet);
        EXPECT_EQ(packet.size(), 49u);
        const auto neighbor = ParseLldpFrame(packet);
        ASSERT_TRUE(neighbor.has_value());
        EXPECT_EQ(neighbor->systemName, "core-sw1");
        EXPECT_EQ(neighbor->portId, "Gi1/0/7");
        EXPECT_EQ(neighbor->ttl, 120);
        EXPECT_EQ(handle->Next(packet), CaptureNext::Timeout);
        EXPECT_EQ(handle->Next(packet), CaptureNext::Error);
        EXPECT_EQ(handle->Next(packet), CaptureNext::Timeout);
    }
    LONG counts[4] = {};
    counters(counts);
    EXPECT_EQ(counts[0], 1);  // opened
    EXPECT_EQ(counts[1], 1);  // closed
    EXPECT_EQ(counts[2], 2);  // compiled: the nonsense never was
    EXPECT_EQ(counts[3], 2);  // freed, the refused program too
    FreeLibrary(held);
    EXPECT_FALSE(FakeWpcapLoaded()) << "the adapter kept the library loaded";

    // A handle outlives the adapter that opened it, and holds the library until it goes.
    auto capture = std::make_unique<Win32Capture>(std::vector<std::string>{path});
    ASSERT_TRUE(capture->Load());
    std::string error;
    auto handle = capture->Open("\\Device\\NPF_{x}", 65535, false, 1000, &error);
    ASSERT_NE(handle, nullptr);
    capture.reset();
    std::vector<uint8_t> packet;
    EXPECT_EQ(handle->Next(packet), CaptureNext::Packet);
    handle.reset();
    EXPECT_FALSE(FakeWpcapLoaded());
}

// The listener on the Windows adapters: it finds the loopback adapter's device by address,
// opens it through the library and keeps the advertisement read there.
TEST(Win32Capture, TheLldpListenerHearsTheLibrarysFrame) {
    Win32Clock clock;
    StdThreads threads;
    Win32Capture capture({FakeWpcapPath()});
    LldpListener listener(LldpPorts{clock, threads, &capture});
    listener.Start("Loopback", "127.0.0.1");
    std::optional<LldpNeighbor> neighbor;
    ASSERT_TRUE(
        test::Eventually([&] { return (neighbor = listener.CurrentNeighbor()).has_value(); }));
    EXPECT_EQ(neighbor->systemName, "core-sw1");
    EXPECT_TRUE(listener.Stop(std::chrono::milliseconds(2000)));
}

// Wine brings a wpcap.dll of its own over the host's libpcap, which takes Npcap's device names:
// the loopback adapter's device opens and takes the LLDP filter (capturing needs root there).
TEST(Win32Capture, TheSystemsLibraryOpensTheLoopbackDevice) {
    Win32Capture capture;
    if (!capture.Load()) GTEST_SKIP() << "no packet capture library";
    std::vector<CaptureDevice> devices;
    std::string error;
    ASSERT_TRUE(capture.ListDevices(devices, &error)) << error;
    const std::string device = MapInterfaceToCaptureDevice(devices, "", "127.0.0.1");
    ASSERT_FALSE(device.empty()) << "no device holds the loopback address";
    auto handle = capture.Open(device, kLldpSnapLength, false, kLldpReadTimeoutMs, &error);
    if (!handle) GTEST_SKIP() << "cannot capture here: " << error;
    EXPECT_TRUE(handle->SetFilter(kLldpFilter, &error)) << error;
    EXPECT_FALSE(handle->SetFilter("ether proto nonsense", &error));
    EXPECT_EQ(error.rfind("compile: ", 0), 0u) << error;
}

}  // namespace
}  // namespace quillon::win32
