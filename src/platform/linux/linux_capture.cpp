#include "platform/linux/linux_capture.h"

#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstdint>
#include <cstring>

#include "base/ipv4.h"
#include "base/log.h"

namespace quillon::lnx {

// libpcap's public ABI, declared here instead of including pcap.h: the headers need not be
// installed to build, and the library need not be installed to run.
namespace pcap {

struct Handle;  // pcap_t
struct Address {
    Address* next;
    sockaddr* addr;
    sockaddr* netmask;
    sockaddr* broadaddr;
    sockaddr* dstaddr;
};
struct Interface {  // pcap_if_t
    Interface* next;
    char* name;
    char* description;
    Address* addresses;
    uint32_t flags;
};
struct Instruction;
struct Program {  // struct bpf_program
    unsigned int length;
    Instruction* instructions;
};
struct PacketHeader {  // struct pcap_pkthdr
    timeval ts;
    uint32_t caplen;
    uint32_t len;
};

constexpr size_t kErrorBufferSize = 256;     // PCAP_ERRBUF_SIZE
constexpr uint32_t kNoNetmask = 0xFFFFFFFF;  // PCAP_NETMASK_UNKNOWN

}  // namespace pcap

struct PcapLibrary {
    void* so = nullptr;
    pcap::Handle* (*openLive)(const char*, int, int, int, char*) = nullptr;
    int (*nextEx)(pcap::Handle*, pcap::PacketHeader**, const unsigned char**) = nullptr;
    void (*close)(pcap::Handle*) = nullptr;
    int (*compile)(pcap::Handle*, pcap::Program*, const char*, int, uint32_t) = nullptr;
    int (*setFilter)(pcap::Handle*, pcap::Program*) = nullptr;
    void (*freeCode)(pcap::Program*) = nullptr;
    int (*findAllDevs)(pcap::Interface**, char*) = nullptr;
    void (*freeAllDevs)(pcap::Interface*) = nullptr;
    char* (*getErr)(pcap::Handle*) = nullptr;
    int (*setNonBlock)(pcap::Handle*, int, char*) = nullptr;
    int (*selectableFd)(pcap::Handle*) = nullptr;

    ~PcapLibrary() {
        if (so != nullptr) dlclose(so);
    }
};

namespace {

template <class F>
bool Resolve(void* so, const char* name, F& out) {
    out = reinterpret_cast<F>(dlsym(so, name));
    return out != nullptr;
}

class PcapHandle final : public CaptureHandle {
public:
    PcapHandle(std::shared_ptr<PcapLibrary> library, pcap::Handle* handle, int fd, int timeoutMs)
        : library_(std::move(library)), handle_(handle), fd_(fd), timeoutMs_(timeoutMs) {}
    ~PcapHandle() override { library_->close(handle_); }

    bool SetFilter(const std::string& expression, std::string* error) override {
        pcap::Program program{};
        if (library_->compile(handle_, &program, expression.c_str(), 1, pcap::kNoNetmask) != 0) {
            if (error) *error = std::string("compile: ") + library_->getErr(handle_);
            return false;
        }
        const bool set = library_->setFilter(handle_, &program) == 0;
        if (!set && error) *error = std::string("set: ") + library_->getErr(handle_);
        library_->freeCode(&program);
        return set;
    }

    // On Linux's packet ring a blocking read with no traffic at all never times out, so the
    // handle is non-blocking and the wait for the next packet is our own poll with the time-out.
    CaptureNext Next(std::vector<uint8_t>& packet) override {
        for (int attempt = 0; attempt < 2; ++attempt) {
            pcap::PacketHeader* header = nullptr;
            const unsigned char* data = nullptr;
            const int result = library_->nextEx(handle_, &header, &data);
            if (result == 1 && header != nullptr && data != nullptr) {
                packet.assign(data, data + header->caplen);
                return CaptureNext::Packet;
            }
            if (result != 0) return CaptureNext::Error;
            if (attempt > 0 || fd_ < 0) break;
            pollfd ready{fd_, POLLIN, 0};
            if (poll(&ready, 1, timeoutMs_) <= 0) break;
        }
        return CaptureNext::Timeout;
    }

private:
    std::shared_ptr<PcapLibrary> library_;
    pcap::Handle* handle_;
    int fd_;  // -1: reads block for the library's own time-out
    int timeoutMs_;
};

}  // namespace

LinuxCapture::LinuxCapture(std::vector<std::string> libraryNames)
    : libraryNames_(std::move(libraryNames)) {}

LinuxCapture::~LinuxCapture() = default;

bool LinuxCapture::Load() {
    if (library_) return true;
    for (const std::string& name : libraryNames_) {
        void* so = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (so == nullptr) continue;
        auto library = std::make_shared<PcapLibrary>();
        library->so = so;
        PcapLibrary& l = *library;
        if (Resolve(so, "pcap_open_live", l.openLive) && Resolve(so, "pcap_next_ex", l.nextEx) &&
            Resolve(so, "pcap_close", l.close) && Resolve(so, "pcap_compile", l.compile) &&
            Resolve(so, "pcap_setfilter", l.setFilter) &&
            Resolve(so, "pcap_freecode", l.freeCode) &&
            Resolve(so, "pcap_findalldevs", l.findAllDevs) &&
            Resolve(so, "pcap_freealldevs", l.freeAllDevs) &&
            Resolve(so, "pcap_geterr", l.getErr) &&
            Resolve(so, "pcap_setnonblock", l.setNonBlock) &&
            Resolve(so, "pcap_get_selectable_fd", l.selectableFd)) {
            library_ = std::move(library);
            LogWrite(Debug, "Packet capture library loaded: %s", name.c_str());
            return true;
        }
        // Not a libpcap we can use; the shared_ptr closes it.
    }
    return false;
}

bool LinuxCapture::ListDevices(std::vector<CaptureDevice>& out, std::string* error) {
    out.clear();
    if (!library_) {
        if (error) *error = "capture library not loaded";
        return false;
    }
    char errorText[pcap::kErrorBufferSize] = {};
    pcap::Interface* all = nullptr;
    if (library_->findAllDevs(&all, errorText) != 0) {
        if (error) *error = errorText;
        return false;
    }
    for (const pcap::Interface* i = all; i != nullptr; i = i->next) {
        CaptureDevice device;
        device.name = i->name != nullptr ? i->name : "";
        device.description = i->description != nullptr ? i->description : "";
        for (const pcap::Address* a = i->addresses; a != nullptr; a = a->next) {
            if (a->addr == nullptr || a->addr->sa_family != AF_INET) continue;
            sockaddr_in in{};
            std::memcpy(&in, a->addr, sizeof in);
            device.ipv4Addresses.push_back(Ipv4Address::FromNetworkOrder(in.sin_addr.s_addr));
        }
        out.push_back(std::move(device));
    }
    library_->freeAllDevs(all);
    return true;
}

std::unique_ptr<CaptureHandle> LinuxCapture::Open(const std::string& device, int snapLength,
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
        if (error) *error = errorText;
        return nullptr;
    }
    const bool nonBlocking = library_->setNonBlock(handle, 1, errorText) == 0;
    const int fd = nonBlocking ? library_->selectableFd(handle) : -1;
    return std::make_unique<PcapHandle>(library_, handle, fd, readTimeoutMs);
}

}  // namespace quillon::lnx
