#include "platform/win32/win32_capture.h"

#include <cstdint>
#include <cstring>

#include "base/log.h"
#include "platform/win32/win32_net_info.h"
#include "platform/win32/win32_net_parse.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {

// wpcap's ABI as a 64-bit Windows process sees it, declared here instead of including pcap.h.
namespace pcap {

struct Handle;  // pcap_t
struct Instruction;
struct Program {  // struct bpf_program
    unsigned int length;
    Instruction* instructions;
};
struct PacketHeader {  // struct pcap_pkthdr; Windows' timeval holds two 32-bit longs
    int32_t seconds;
    int32_t microseconds;
    uint32_t caplen;
    uint32_t len;
};
static_assert(sizeof(PacketHeader) == 16);

constexpr size_t kErrorBufferSize = 256;     // PCAP_ERRBUF_SIZE
constexpr uint32_t kNoNetmask = 0xFFFFFFFF;  // PCAP_NETMASK_UNKNOWN

}  // namespace pcap

struct WpcapLibrary {
    HMODULE module = nullptr;
    pcap::Handle* (*openLive)(const char*, int, int, int, char*) = nullptr;
    int (*nextEx)(pcap::Handle*, pcap::PacketHeader**, const unsigned char**) = nullptr;
    void (*close)(pcap::Handle*) = nullptr;
    int (*compile)(pcap::Handle*, pcap::Program*, const char*, int, uint32_t) = nullptr;
    int (*setFilter)(pcap::Handle*, pcap::Program*) = nullptr;
    void (*freeCode)(pcap::Program*) = nullptr;
    char* (*getErr)(pcap::Handle*) = nullptr;  // optional: explains failures

    ~WpcapLibrary() {
        if (module != nullptr) FreeLibrary(module);
    }

    std::string ErrorOf(pcap::Handle* handle) const {
        const char* text = getErr != nullptr ? getErr(handle) : nullptr;
        return text != nullptr ? text : "";
    }
};

namespace {

template <class F>
bool Resolve(HMODULE module, const char* name, F& out) {
    // Through void*: the entry point's type is the one we declared, not FARPROC's.
    out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return out != nullptr;
}

bool IsAbsolute(const std::wstring& path) {
    // "C:\..." or "\\server\...": anything else would be looked for in the search path.
    return (path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
           path.rfind(L"\\\\", 0) == 0;
}

std::string ErrorText(const char (&buffer)[pcap::kErrorBufferSize]) {
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

class WpcapHandle final : public CaptureHandle {
public:
    WpcapHandle(std::shared_ptr<WpcapLibrary> library, pcap::Handle* handle)
        : library_(std::move(library)), handle_(handle) {}
    ~WpcapHandle() override { library_->close(handle_); }

    bool SetFilter(const std::string& expression, std::string* error) override {
        pcap::Program program{};
        if (library_->compile(handle_, &program, expression.c_str(), 1, pcap::kNoNetmask) != 0) {
            if (error) *error = "compile: " + library_->ErrorOf(handle_);
            return false;
        }
        const bool set = library_->setFilter(handle_, &program) == 0;
        if (!set && error) *error = "set: " + library_->ErrorOf(handle_);
        library_->freeCode(&program);
        return set;
    }

    // Npcap ends a read with no packet after the read time-out given to Open.
    CaptureNext Next(std::vector<uint8_t>& packet) override {
        pcap::PacketHeader* header = nullptr;
        const unsigned char* data = nullptr;
        const int result = library_->nextEx(handle_, &header, &data);
        if (result == 1 && header != nullptr && data != nullptr) {
            packet.assign(data, data + header->caplen);
            return CaptureNext::Packet;
        }
        return result == 0 ? CaptureNext::Timeout : CaptureNext::Error;
    }

private:
    std::shared_ptr<WpcapLibrary> library_;
    pcap::Handle* handle_;
};

}  // namespace

std::vector<CaptureDevice> CaptureDevicesOf(const IP_ADAPTER_ADDRESSES* first) {
    std::vector<CaptureDevice> devices;
    for (const IP_ADAPTER_ADDRESSES* record = first; record != nullptr; record = record->Next) {
        if (record->AdapterName == nullptr || record->AdapterName[0] == '\0') continue;
        const NetAdapter adapter = AdapterOf(*record);
        devices.push_back(CaptureDevice{std::string("\\Device\\NPF_") + record->AdapterName,
                                        adapter.friendlyName, adapter.ipv4Unicast});
    }
    return devices;
}

std::vector<std::string> DefaultWpcapPaths() {
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const std::string folder = Narrow(std::wstring_view(system, length));
    return {folder + "\\Npcap\\wpcap.dll", folder + "\\wpcap.dll"};
}

Win32Capture::Win32Capture(std::vector<std::string> libraryPaths)
    : libraryPaths_(std::move(libraryPaths)) {}

Win32Capture::~Win32Capture() = default;

bool Win32Capture::Load() {
    if (library_) return true;
    for (const std::string& path : libraryPaths_) {
        const std::wstring wide = Wide(path);
        if (!IsAbsolute(wide)) continue;
        // The DLL's own folder for Packet.dll beside it, then System32; nothing else.
        const HMODULE module = LoadLibraryExW(
            wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) continue;
        auto library = std::make_shared<WpcapLibrary>();
        library->module = module;
        WpcapLibrary& l = *library;
        if (Resolve(module, "pcap_open_live", l.openLive) &&
            Resolve(module, "pcap_next_ex", l.nextEx) && Resolve(module, "pcap_close", l.close) &&
            Resolve(module, "pcap_compile", l.compile) &&
            Resolve(module, "pcap_setfilter", l.setFilter) &&
            Resolve(module, "pcap_freecode", l.freeCode)) {
            Resolve(module, "pcap_geterr", l.getErr);
            library_ = std::move(library);
            LogWrite(Debug, "Packet capture library loaded: %s", path.c_str());
            return true;
        }
        // Not a wpcap we can use; the shared_ptr frees it.
    }
    return false;
}

bool Win32Capture::ListDevices(std::vector<CaptureDevice>& out, std::string* error) {
    out.clear();
    if (!library_) {
        if (error) *error = "capture library not loaded";
        return false;
    }
    // Multicast and DNS server addresses are of no use here.
    std::vector<uint64_t> buffer;
    const ULONG result =
        ReadAdapterRecords(GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, buffer);
    if (result == ERROR_NO_DATA) return true;
    if (result != NO_ERROR) {
        if (error) *error = "GetAdaptersAddresses failed: " + std::to_string(result);
        return false;
    }
    out = CaptureDevicesOf(reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()));
    return true;
}

std::unique_ptr<CaptureHandle> Win32Capture::Open(const std::string& device, int snapLength,
                                                  bool promiscuous, int readTimeoutMs,
                                                  std::string* error) {
    if (!library_) {
        if (error) *error = "capture library not loaded";
        return nullptr;
    }
    char errorText[pcap::kErrorBufferSize] = {};
    pcap::Handle* handle = library_->openLive(device.c_str(), snapLength, promiscuous ? 1 : 0,
                                              readTimeoutMs, errorText);
    if (handle == nullptr) {
        if (error) *error = ErrorText(errorText);
        return nullptr;
    }
    return std::make_unique<WpcapHandle>(library_, handle);
}

}  // namespace quillon::win32
