#include "discovery/lldp_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

#include "fakes/eventually.h"
#include "fakes/log_capture.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using test::Eventually;

// A capture library whose one device hears the frames a test queues; reads wait up to 20 ms
// (standing in for the real second) and then time out.
class FakeCapture final : public Capture {
public:
    struct Shared {
        std::mutex mutex;
        std::deque<std::vector<uint8_t>> frames;
        std::string filter;
        int opened = 0;
        int closed = 0;
        int reads = 0;
    };

    bool Load() override { return installed; }
    bool ListDevices(std::vector<CaptureDevice>& out, std::string*) override {
        out = devices;
        return true;
    }
    std::unique_ptr<CaptureHandle> Open(const std::string& device, int, bool, int,
                                        std::string* error) override {
        if (device != "eth1") {
            *error = "no such device";
            return nullptr;
        }
        std::lock_guard lock(shared->mutex);
        ++shared->opened;
        return std::make_unique<Handle>(shared);
    }

    void Queue(std::vector<uint8_t> frame) {
        std::lock_guard lock(shared->mutex);
        shared->frames.push_back(std::move(frame));
    }

    bool installed = true;
    std::vector<CaptureDevice> devices = {{"lo", "", {Ipv4Address(127, 0, 0, 1)}},
                                          {"eth1", "", {Ipv4Address(192, 168, 1, 100)}}};
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

private:
    struct Handle final : CaptureHandle {
        explicit Handle(std::shared_ptr<Shared> s) : shared(std::move(s)) {}
        ~Handle() override {
            std::lock_guard lock(shared->mutex);
            ++shared->closed;
        }
        bool SetFilter(const std::string& expression, std::string*) override {
            std::lock_guard lock(shared->mutex);
            shared->filter = expression;
            return true;
        }
        CaptureNext Next(std::vector<uint8_t>& packet) override {
            {
                std::lock_guard lock(shared->mutex);
                ++shared->reads;
                if (!shared->frames.empty()) {
                    packet = std::move(shared->frames.front());
                    shared->frames.pop_front();
                    return CaptureNext::Packet;
                }
            }
            std::this_thread::sleep_for(20ms);
            return CaptureNext::Timeout;
        }
        std::shared_ptr<Shared> shared;
    };
};

// Chassis "c", the given TTL (none when negative) and system name, port "Gi1/0/7", End.
std::vector<uint8_t> Advertisement(int ttl, const std::string& name,
                                   const std::string& port = "Gi1/0/7") {
    std::vector<uint8_t> f = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x0e, 2, 0, 0, 0, 0, 1, 0x88, 0xcc};
    // Appended byte by byte: GCC 12 at -O3 mistakes range inserts here for overflows.
    const auto tlv = [&f](uint8_t type, const std::string& value, int subtype = -1) {
        f.push_back(static_cast<uint8_t>(type << 1));
        f.push_back(static_cast<uint8_t>(value.size() + (subtype >= 0 ? 1 : 0)));
        if (subtype >= 0) f.push_back(static_cast<uint8_t>(subtype));
        for (const char c : value) f.push_back(static_cast<uint8_t>(c));
    };
    tlv(1, "c", 7);
    tlv(2, port, 5);
    if (ttl >= 0) tlv(3, {static_cast<char>(ttl >> 8), static_cast<char>(ttl & 0xff)});
    if (!name.empty()) tlv(5, name);
    f.push_back(0x00);
    f.push_back(0x00);
    return f;
}

TEST(LldpListener, MapsTheAdapterToItsCaptureDevice) {
    const std::vector<CaptureDevice> devices = {
        {"any", "", {}},
        {"\\Device\\NPF_{7A}", "", {Ipv4Address(10, 0, 0, 5)}},
        {"enp3s0", "", {Ipv4Address(192, 168, 1, 9)}}};
    EXPECT_EQ(MapInterfaceToCaptureDevice(devices, "enp3s0", "10.0.0.5"), "enp3s0");
    EXPECT_EQ(MapInterfaceToCaptureDevice(devices, "Ethernet 2", "10.0.0.5"), "\\Device\\NPF_{7A}");
    EXPECT_EQ(MapInterfaceToCaptureDevice(devices, "Ethernet 2", ""), "");
    EXPECT_EQ(MapInterfaceToCaptureDevice(devices, "Ethernet 2", "0.0.0.0"), "");
}

TEST(LldpListener, KeepsTheLatestNeighbourForItsHoldTime) {
    sim::SimSystem system;
    sim::VirtualClock clock;
    test::TestLog log(system, clock);
    sim::SimThreads threads(sim::ThreadMode::Threaded);
    FakeCapture capture;
    LldpListener listener(LldpPorts{clock, threads, &capture});
    EXPECT_FALSE(listener.CurrentNeighbor());

    listener.Start("eth1");
    ASSERT_TRUE(listener.Available());
    capture.Queue(Advertisement(20, "core-sw1"));
    ASSERT_TRUE(Eventually([&] { return listener.CurrentNeighbor().has_value(); }));
    EXPECT_EQ(capture.shared->filter, kLldpFilter);
    const auto first = listener.CurrentNeighbor();
    EXPECT_EQ(first->systemName, "core-sw1");
    EXPECT_EQ(first->portId, "Gi1/0/7");
    EXPECT_EQ(log.Count("LLDP: received from switch=core-sw1 port=Gi1/0/7"), 1);

    // A TTL of 20 holds until 21 whole seconds have passed.
    clock.Advance(20999);
    EXPECT_TRUE(listener.CurrentNeighbor());
    clock.Advance(1);
    EXPECT_FALSE(listener.CurrentNeighbor());
    clock.Advance(100000);
    EXPECT_FALSE(listener.CurrentNeighbor());  // dropped, not back

    // Without a TTL it holds until 121 whole seconds have passed; a newer advertisement
    // replaces the older.
    capture.Queue(Advertisement(-1, "core-sw2"));
    ASSERT_TRUE(Eventually([&] { return listener.CurrentNeighbor().has_value(); }));
    EXPECT_EQ(listener.CurrentNeighbor()->systemName, "core-sw2");
    clock.Advance(120999);
    EXPECT_TRUE(listener.CurrentNeighbor());
    clock.Advance(1);
    EXPECT_FALSE(listener.CurrentNeighbor());

    // A TTL of 0 is the port's farewell: the neighbour goes at once, not after the default
    // hold, and the farewell (which names no switch) is never shown. Another port's farewell
    // leaves it alone.
    capture.Queue(Advertisement(120, "core-sw3"));
    ASSERT_TRUE(Eventually([&] { return listener.CurrentNeighbor().has_value(); }));
    const auto reads = [&] {
        std::lock_guard lock(capture.shared->mutex);
        return capture.shared->reads;
    };
    const int readsBefore = reads();
    capture.Queue(Advertisement(0, "", "Gi1/0/8"));
    ASSERT_TRUE(
        Eventually([&] { return reads() >= readsBefore + 2; }));  // read, then back for more
    EXPECT_EQ(listener.CurrentNeighbor()->systemName, "core-sw3");
    capture.Queue(Advertisement(0, ""));
    ASSERT_TRUE(Eventually([&] { return !listener.CurrentNeighbor().has_value(); }));
    EXPECT_EQ(log.Count("LLDP: switch=core-sw3 withdrew its advertisement"), 1);
    capture.Queue(Advertisement(0, ""));
    capture.Queue(Advertisement(120, "core-sw4"));
    ASSERT_TRUE(Eventually([&] { return listener.CurrentNeighbor().has_value(); }));
    EXPECT_EQ(listener.CurrentNeighbor()->systemName, "core-sw4");
    EXPECT_EQ(log.Count("withdrew its advertisement"), 1);

    // Start again while running does nothing; Stop ends the worker within a read.
    listener.Start("eth1");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(listener.Stop(2s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_EQ(capture.shared->opened, 1);
    EXPECT_EQ(capture.shared->closed, 1);
    EXPECT_FALSE(listener.Available());
    EXPECT_FALSE(listener.CurrentNeighbor());
    EXPECT_EQ(log.Count("LLDP: capture started on eth1"), 1);
    EXPECT_EQ(log.Count("LLDP: capture stopped"), 1);
}

TEST(LldpListener, StaysQuietlyOffWithoutTheLibraryOrTheDevice) {
    sim::SimSystem system;
    sim::VirtualClock clock;
    sim::SimThreads threads(sim::ThreadMode::Threaded);
    {
        test::TestLog log(system, clock);
        FakeCapture absent;
        absent.installed = false;
        LldpListener listener(LldpPorts{clock, threads, &absent});
        listener.Start("eth1");
        absent.Queue(Advertisement(20, "core-sw1"));
        EXPECT_FALSE(listener.Running());
        EXPECT_FALSE(listener.Available());
        EXPECT_EQ(absent.shared->opened, 0);
        EXPECT_FALSE(listener.CurrentNeighbor());
        EXPECT_TRUE(listener.Stop(1s));
        // Nothing above Debug, which is never written.
        EXPECT_EQ(log.Count("LLDP"), 0) << log.Text();

        LldpListener noPort(LldpPorts{clock, threads, nullptr});
        noPort.Start("eth1");
        EXPECT_FALSE(noPort.Available());
    }
    {
        test::TestLog log(system, clock);
        FakeCapture capture;
        LldpListener listener(LldpPorts{clock, threads, &capture});
        listener.Start("Ethernet 9", "172.16.0.1");
        EXPECT_FALSE(listener.Running());
        EXPECT_EQ(log.Count("LLDP: could not map interface 'Ethernet 9' to pcap device"), 1);
        // Mapped by address, but the device will not open: the worker logs and ends.
        capture.devices = {{"eth2", "", {Ipv4Address(172, 16, 0, 1)}}};
        listener.Start("Ethernet 9", "172.16.0.1");
        EXPECT_TRUE(listener.Running());
        EXPECT_TRUE(listener.Stop(1s));
        EXPECT_EQ(log.Count("LLDP: failed to open pcap device: no such device"), 1);
    }
}

}  // namespace
}  // namespace quillon
