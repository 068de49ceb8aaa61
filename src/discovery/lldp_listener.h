// LldpListener: hears the wired switch's LLDP advertisements on the primary Ethernet adapter
// and keeps the latest one for the network state builder (the switch and port on the wired
// link). The capture library is optional: without it Start logs at Debug and the listener stays
// off, which is not an error.
//
// Start and Stop run on the UI thread at start-up and shutdown. Start runs the capture loop on
// one worker of its own; it reads with the capture's one-second time-out so that Stop is noticed
// within a second. The neighbour, when it was stored and its hold time are guarded by one mutex;
// CurrentNeighbor (any thread, the builder's UI thread in practice) copies it out and drops it
// once it has outlived its hold time. The destructor stops and waits without bound.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "discovery/lldp_neighbor.h"
#include "platform/capture.h"

namespace quillon {

class Clock;
class Threads;

struct LldpPorts {
    Clock& clock;
    Threads& threads;
    Capture* capture = nullptr;  // null: no capture library on this platform
};

// Only LLDP frames to the nearest-bridge group address reach the loop.
inline constexpr const char* kLldpFilter = "ether dst 01:80:c2:00:00:0e and ether proto 0x88cc";
inline constexpr int kLldpSnapLength = 65535;
inline constexpr int kLldpReadTimeoutMs = 1000;

// The capture device of an adapter: the one of the same name, else the first that holds its
// IPv4 address (where devices are named otherwise); empty when none matches.
std::string MapInterfaceToCaptureDevice(const std::vector<CaptureDevice>& devices,
                                        const std::string& adapterName,
                                        const std::string& adapterIpv4);

class LldpListener {
public:
    explicit LldpListener(LldpPorts ports) : ports_(ports) {}
    ~LldpListener();
    LldpListener(const LldpListener&) = delete;
    LldpListener& operator=(const LldpListener&) = delete;

    // Loads the capture library if needed and starts the capture worker on the adapter's
    // device. Does nothing while running.
    void Start(const std::string& adapterName, const std::string& adapterIpv4 = {});

    // Ends the capture worker, waiting at most `bound` for it to notice. False when it is still
    // running: the listener and the capture library must then outlive it.
    bool Stop(std::chrono::milliseconds bound);

    // The latest neighbour while the listener is available and the neighbour has not outlived
    // its hold time; an outlived one is dropped here.
    std::optional<LldpNeighbor> CurrentNeighbor();

    bool Available() const { return available_; }
    bool Running() const { return running_; }

private:
    void CaptureLoop(const std::string& device);
    void Store(const LldpNeighbor& neighbor);

    LldpPorts ports_;
    bool loaded_ = false;  // UI thread only
    std::atomic<bool> available_{false};
    std::atomic<bool> running_{false};

    std::mutex mutex_;
    std::condition_variable ended_;
    bool workerActive_ = false;  // the capture worker has not returned yet
    LldpNeighbor neighbor_;
    bool hasNeighbor_ = false;
    int64_t receivedAtNs_ = 0;
    uint16_t holdSeconds_ = 0;
};

}  // namespace quillon
