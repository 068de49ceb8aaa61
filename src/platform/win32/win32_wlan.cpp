#include "platform/win32/win32_wlan.h"

// clang-format off
#include <windows.h>
#include <wlanapi.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/log.h"
#include "platform/win32/win32_wlan_parse.h"

namespace quillon::win32 {

namespace {

// Version 2 is the client of Windows Vista and later; version 1 was Windows XP's.
constexpr DWORD kClientVersion = 2;

// What the WLAN API allocated for an answer, freed with WlanFreeMemory.
template <class T>
class WlanMemory {
public:
    WlanMemory() = default;
    ~WlanMemory() {
        if (memory_ != nullptr) WlanFreeMemory(memory_);
    }
    WlanMemory(const WlanMemory&) = delete;
    WlanMemory& operator=(const WlanMemory&) = delete;

    T** Out() { return &memory_; }
    T* get() const { return memory_; }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(memory_); }

private:
    T* memory_ = nullptr;
};

class Win32WlanClient final : public WlanClient {
public:
    explicit Win32WlanClient(HANDLE handle) : handle_(handle) {}
    ~Win32WlanClient() override { WlanCloseHandle(handle_, nullptr); }
    Win32WlanClient(const Win32WlanClient&) = delete;
    Win32WlanClient& operator=(const Win32WlanClient&) = delete;

    bool ListInterfaces(std::vector<WlanInterfaceInfo>& out) override {
        WlanMemory<WLAN_INTERFACE_INFO_LIST> list;
        if (WlanEnumInterfaces(handle_, nullptr, list.Out()) != ERROR_SUCCESS ||
            list.get() == nullptr) {
            return false;
        }
        // The list carries no size of its own: the system sized it for its count.
        const size_t size = offsetof(WLAN_INTERFACE_INFO_LIST, InterfaceInfo) +
                            size_t(list.get()->dwNumberOfItems) * sizeof(WLAN_INTERFACE_INFO);
        out = InterfacesOf(list.bytes(), size);
        return true;
    }

    bool RequestScan(const std::string& interfaceId) override {
        const auto guid = GuidFromText(interfaceId);
        if (!guid) return false;
        const DWORD error = WlanScan(handle_, &*guid, nullptr, nullptr, nullptr);
        if (error == ERROR_SUCCESS) return true;
        // The cached results serve until the next scan the system makes on its own.
        LogWrite(Debug, "WiFi scan on interface %s not started (error %lu)", interfaceId.c_str(),
                 static_cast<unsigned long>(error));
        return false;
    }

    std::optional<WlanConnection> CurrentConnection(const std::string& interfaceId) override {
        return Query(interfaceId, wlan_intf_opcode_current_connection, ConnectionOf);
    }

    std::optional<uint32_t> Channel(const std::string& interfaceId) override {
        return Query(interfaceId, wlan_intf_opcode_channel_number, ChannelOf);
    }

    bool BssList(const std::string& interfaceId, const std::vector<uint8_t>* ssid,
                 std::vector<WlanBssEntry>& out) override {
        out.clear();
        const auto guid = GuidFromText(interfaceId);
        if (!guid) return false;
        DOT11_SSID name{};
        if (ssid != nullptr) {
            name.uSSIDLength = static_cast<ULONG>(std::min(ssid->size(), sizeof(name.ucSSID)));
            std::memcpy(name.ucSSID, ssid->data(), name.uSSIDLength);
        }
        // One network's list holds its infrastructure access points, secured or not as the
        // system knows the network; the full list every access point heard.
        WlanMemory<WLAN_BSS_LIST> list;
        const DWORD error = WlanGetNetworkBssList(
            handle_, &*guid, ssid != nullptr ? &name : nullptr,
            ssid != nullptr ? dot11_BSS_type_infrastructure : dot11_BSS_type_any,
            ssid != nullptr ? TRUE : FALSE, nullptr, list.Out());
        if (error != ERROR_SUCCESS || list.get() == nullptr) return false;
        out = BssEntriesOf(list.bytes(), list.get()->dwTotalSize);
        return true;
    }

    std::optional<WlanRealtimeQuality> RealtimeQuality(const std::string& interfaceId) override {
        // Systems older than the opcode refuse it: nothing then.
        return Query(interfaceId, kOpcodeRealtimeConnectionQuality, RealtimeQualityOf);
    }

private:
    // One WlanQueryInterface answer read by `parse`; nothing when the query fails.
    template <class Parse>
    auto Query(const std::string& interfaceId, WLAN_INTF_OPCODE opcode, Parse parse)
        -> decltype(parse(nullptr, 0)) {
        const auto guid = GuidFromText(interfaceId);
        if (!guid) return std::nullopt;
        DWORD size = 0;
        WlanMemory<void> data;
        if (WlanQueryInterface(handle_, &*guid, opcode, nullptr, &size, data.Out(), nullptr) !=
                ERROR_SUCCESS ||
            data.get() == nullptr) {
            return std::nullopt;
        }
        return parse(data.bytes(), size);
    }

    const HANDLE handle_;
};

}  // namespace

std::unique_ptr<WlanClient> Win32Wlan::Open() {
    DWORD negotiated = 0;
    HANDLE handle = nullptr;
    const DWORD error = WlanOpenHandle(kClientVersion, nullptr, &negotiated, &handle);
    if (error != ERROR_SUCCESS) {
        // ERROR_SERVICE_NOT_ACTIVE: the WLAN AutoConfig service is stopped or absent (servers
        // without the wireless feature).
        LogWrite(Debug, "No wireless service: WlanOpenHandle failed (error %lu)",
                 static_cast<unsigned long>(error));
        return nullptr;
    }
    return std::make_unique<Win32WlanClient>(handle);
}

}  // namespace quillon::win32
