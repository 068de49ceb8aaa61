// LinuxCapture: the Capture port over libpcap, loaded at run time with dlopen so that the
// program starts, and runs without LLDP, where the library is not installed. Only the handful
// of entry points the LLDP listener uses are resolved. Capturing needs CAP_NET_RAW; without it
// Open fails with libpcap's own explanation.
//
// Load, ListDevices and Open run on the thread that starts the listener; a handle is then read
// and closed by the listener's worker alone. Handles keep the library loaded while they live.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/capture.h"

namespace quillon::lnx {

struct PcapLibrary;

class LinuxCapture final : public Capture {
public:
    // The shared object names tried in order; the default is Debian's and upstream's soname.
    explicit LinuxCapture(std::vector<std::string> libraryNames = {"libpcap.so.0.8",
                                                                   "libpcap.so.1"});
    ~LinuxCapture() override;

    bool Load() override;
    bool ListDevices(std::vector<CaptureDevice>& out, std::string* error) override;
    std::unique_ptr<CaptureHandle> Open(const std::string& device, int snapLength, bool promiscuous,
                                        int readTimeoutMs, std::string* error) override;

private:
    std::vector<std::string> libraryNames_;
    std::shared_ptr<PcapLibrary> library_;
};

}  // namespace quillon::lnx
