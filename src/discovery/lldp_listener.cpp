#include "discovery/lldp_listener.h"

#include <algorithm>
#include <memory>

#include "base/ipv4.h"
#include "base/log.h"
#include "discovery/lldp_frame.h"
#include "platform/clock.h"
#include "platform/threads.h"

namespace quillon {

std::string MapInterfaceToCaptureDevice(const std::vector<CaptureDevice>& devices,
                                        const std::string& adapterName,
                                        const std::string& adapterIpv4) {
    for (const CaptureDevice& device : devices) {
        if (!adapterName.empty() && device.name == adapterName) return device.name;
    }
    const auto address = Ipv4Address::Parse(adapterIpv4);
    if (!address || address->IsZero()) return {};
    for (const CaptureDevice& device : devices) {
        const auto& held = device.ipv4Addresses;
        if (std::find(held.begin(), held.end(), *address) != held.end()) return device.name;
    }
    return {};
}

LldpListener::~LldpListener() {
    running_ = false;
    std::unique_lock lock(mutex_);
    ended_.wait(lock, [this] { return !workerActive_; });
}

void LldpListener::Start(const std::string& adapterName, const std::string& adapterIpv4) {
    if (running_) return;
    if (!loaded_) {
        if (ports_.capture == nullptr || !ports_.capture->Load()) {
            LogWrite(Debug, "LLDP: Npcap not available (wpcap.dll not found)");
            return;
        }
        loaded_ = true;
    }
    available_ = true;

    std::vector<CaptureDevice> devices;
    std::string error;
    if (!ports_.capture->ListDevices(devices, &error)) devices.clear();
    const std::string device = MapInterfaceToCaptureDevice(devices, adapterName, adapterIpv4);
    if (device.empty()) {
        LogWrite(Warn, "LLDP: could not map interface '%s' to pcap device", adapterName.c_str());
        return;
    }

    running_ = true;
    {
        std::lock_guard lock(mutex_);
        workerActive_ = true;
    }
    const bool started = ports_.threads.StartDetached([this, device] {
        CaptureLoop(device);
        std::lock_guard lock(mutex_);
        workerActive_ = false;
        ended_.notify_all();
    });
    if (!started) {
        std::lock_guard lock(mutex_);
        workerActive_ = false;
        running_ = false;
    }
}

bool LldpListener::Stop(std::chrono::milliseconds bound) {
    if (!running_) return true;
    running_ = false;
    {
        std::unique_lock lock(mutex_);
        // Real time: this bounds how long a person waits for the process to end.
        if (!ended_.wait_for(lock, bound, [this] { return !workerActive_; })) return false;
    }
    available_ = false;
    LogWrite(Debug, "LLDP: discovery shut down");
    return true;
}

std::optional<LldpNeighbor> LldpListener::CurrentNeighbor() {
    if (!available_) return std::nullopt;
    const int64_t now = ports_.clock.MonotonicNs();
    std::lock_guard lock(mutex_);
    if (!hasNeighbor_) return std::nullopt;
    if ((now - receivedAtNs_) / 1000000000 > holdSeconds_) {
        neighbor_ = {};
        hasNeighbor_ = false;
        return std::nullopt;
    }
    return neighbor_;
}

void LldpListener::CaptureLoop(const std::string& device) {
    std::string error;
    std::unique_ptr<CaptureHandle> capture =
        ports_.capture->Open(device, kLldpSnapLength, false, kLldpReadTimeoutMs, &error);
    if (!capture) {
        LogWrite(Warn, "LLDP: failed to open pcap device: %s", error.c_str());
        return;
    }
    if (!capture->SetFilter(kLldpFilter, &error)) {
        LogWrite(Warn, "LLDP: failed to set BPF filter");
        return;
    }
    LogWrite(Info, "LLDP: capture started on %s", device.c_str());

    std::vector<uint8_t> packet;
    while (running_) {
        // Time-outs and read errors alike go back to the running test.
        if (capture->Next(packet) != CaptureNext::Packet) continue;
        if (const auto neighbor = ParseLldpFrame(packet)) Store(*neighbor);
    }
    capture.reset();
    LogWrite(Info, "LLDP: capture stopped");
}

void LldpListener::Store(const LldpNeighbor& neighbor) {
    const int64_t now = ports_.clock.MonotonicNs();
    if (neighbor.shutdown) {
        // The port withdraws what it announced: drop it now rather than show it for the
        // default hold time. Another port's farewell leaves the neighbour as it is.
        std::lock_guard lock(mutex_);
        if (hasNeighbor_ && neighbor_.chassisId == neighbor.chassisId &&
            neighbor_.portId == neighbor.portId) {
            LogWrite(Info, "LLDP: switch=%s withdrew its advertisement",
                     neighbor_.systemName.empty() ? "(unknown)" : neighbor_.systemName.c_str());
            neighbor_ = {};
            hasNeighbor_ = false;
        }
        return;
    }
    {
        std::lock_guard lock(mutex_);
        neighbor_ = neighbor;
        hasNeighbor_ = true;
        receivedAtNs_ = now;
        holdSeconds_ = neighbor.ttl != 0 ? neighbor.ttl : kLldpDefaultHoldSeconds;
    }
    const std::string& port =
        !neighbor.portDescription.empty() ? neighbor.portDescription : neighbor.portId;
    LogWrite(Info, "LLDP: received from switch=%s port=%s",
             neighbor.systemName.empty() ? "(unknown)" : neighbor.systemName.c_str(),
             port.empty() ? "(unknown)" : port.c_str());
}

}  // namespace quillon
