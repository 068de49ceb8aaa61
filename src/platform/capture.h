// Capture: the optional packet capture library, used to hear the wired switch's LLDP frames.
// The library may be missing; Load() says so and the listener then stays off. A capture is
// read by one thread (the listener's).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/ipv4.h"

namespace quillon {

struct CaptureDevice {
    std::string name;         // what Open() takes
    std::string description;
    std::vector<Ipv4Address> ipv4Addresses;  // to match the device with an adapter
};

enum class CaptureNext { Packet, Timeout, Error };

class CaptureHandle {
public:
    virtual ~CaptureHandle() = default;  // closes the capture
    // Installs a filter expression; false with *error set when it does not compile or apply.
    virtual bool SetFilter(const std::string& expression, std::string* error) = 0;
    // Waits up to the read time-out for the next packet.
    virtual CaptureNext Next(std::vector<uint8_t>& packet) = 0;
};

class Capture {
public:
    virtual ~Capture() = default;
    // Loads the capture library; false when it is not installed.
    virtual bool Load() = 0;
    virtual bool ListDevices(std::vector<CaptureDevice>& out, std::string* error) = 0;
    // Opens a device for capture; null with *error set on failure.
    virtual std::unique_ptr<CaptureHandle> Open(const std::string& device, int snapLength,
                                                bool promiscuous, int readTimeoutMs,
                                                std::string* error) = 0;
};

}  // namespace quillon
