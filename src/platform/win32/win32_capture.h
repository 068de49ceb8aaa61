// Win32Capture: the Capture port over Npcap's wpcap.dll, loaded at run time so that the program
// starts, and runs without LLDP, where Npcap is not installed. The library is loaded by full
// path only (never found through the search path or the current folder), with its own folder
// searched for the DLLs it needs; its entry points are taken with GetProcAddress, declared here
// rather than from pcap headers. A library that lacks any of them is not used.
//
// Devices are named the way Npcap names them, "\Device\NPF_" followed by the adapter's name
// (its GUID in braces) from GetAdaptersAddresses; each carries the adapter's friendly name as
// its description and its IPv4 addresses, by which the LLDP listener finds the one it wants.
//
// Load, ListDevices and Open run on the thread that starts the listener; a handle is then read
// and closed by the listener's worker alone. Handles keep the library loaded while they live.
#pragma once

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <memory>
#include <string>
#include <vector>

#include "platform/capture.h"

namespace quillon::win32 {

struct WpcapLibrary;

// The capture device of one adapter record and of each record after it in the list.
std::vector<CaptureDevice> CaptureDevicesOf(const IP_ADAPTER_ADDRESSES* first);

// Where Npcap puts wpcap.dll: its own folder under System32, then System32 itself, where its
// WinPcap-compatible install (or an old WinPcap) puts it.
std::vector<std::string> DefaultWpcapPaths();

class Win32Capture final : public Capture {
public:
    // The full paths tried in order (UTF-8); a path that is not absolute is never loaded.
    explicit Win32Capture(std::vector<std::string> libraryPaths = DefaultWpcapPaths());
    ~Win32Capture() override;

    bool Load() override;
    bool ListDevices(std::vector<CaptureDevice>& out, std::string* error) override;
    std::unique_ptr<CaptureHandle> Open(const std::string& device, int snapLength, bool promiscuous,
                                        int readTimeoutMs, std::string* error) override;

private:
    std::vector<std::string> libraryPaths_;
    std::shared_ptr<WpcapLibrary> library_;
};

}  // namespace quillon::win32
