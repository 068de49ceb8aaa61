// A stand-in for wpcap.dll that the capture adapter's tests load by full path: the entry points
// the adapter takes, with wpcap's 64-bit Windows ABI, playing a device that delivers one LLDP
// frame, then a read time-out, then a read error, then time-outs. Filters containing "nonsense"
// do not compile and "reject" compiles but is refused. The counters let a test check that every
// capture and every compiled program is given back.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Handle {
    int reads = 0;
    bool rejectFilter = false;
    char error[256] = {};
};

struct Program {
    unsigned int length;
    void* instructions;
};

struct PacketHeader {
    int32_t seconds;
    int32_t microseconds;
    uint32_t caplen;
    uint32_t len;
};

// Advertisement from "core-sw1", port "Gi1/0/7", TTL 120, ended by an End TLV.
const unsigned char kFrame[] = {
    0x01, 0x80, 0xc2, 0x00, 0x00, 0x0e, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,
    0x88, 0xcc, 0x02, 0x07, 0x04, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55,  // chassis: MAC
    0x04, 0x08, 0x05, 'G',  'i',  '1',  '/',  '0',  '/',  '7',         // port: name
    0x06, 0x02, 0x00, 0x78,                                            // TTL 120
    0x0a, 0x08, 'c',  'o',  'r',  'e',  '-',  's',  'w',  '1',         // system name
    0x00, 0x00,                                                        // end
    0xde, 0xad};  // beyond the captured length: must not be handed on
constexpr uint32_t kCaptured = sizeof(kFrame) - 2;

PacketHeader header;
unsigned int instruction;
volatile LONG opened, closed, compiled, freed;

}  // namespace

extern "C" {

__declspec(dllexport) Handle* pcap_open_live(const char* device, int, int, int, char* error) {
    if (std::strstr(device, "{missing}") != nullptr) {
        std::strcpy(error, "no such adapter");
        return nullptr;
    }
    Handle* handle = static_cast<Handle*>(std::calloc(1, sizeof(Handle)));
    InterlockedIncrement(&opened);
    return handle;
}

__declspec(dllexport) int pcap_next_ex(Handle* handle, PacketHeader** headerOut,
                                       const unsigned char** data) {
    switch (handle->reads++) {
        case 0:
            header = PacketHeader{1, 2, kCaptured, sizeof(kFrame) + 100};
            *headerOut = &header;
            *data = kFrame;
            return 1;
        case 2:
            std::strcpy(handle->error, "adapter went away");
            return -1;
        default:
            Sleep(10);  // a short stand-in for the read time-out
            return 0;
    }
}

__declspec(dllexport) void pcap_close(Handle* handle) {
    std::free(handle);
    InterlockedIncrement(&closed);
}

__declspec(dllexport) int pcap_compile(Handle* handle, Program* program, const char* text, int,
                                       uint32_t) {
    if (std::strstr(text, "nonsense") != nullptr) {
        std::strcpy(handle->error, "syntax error");
        return -1;
    }
    handle->rejectFilter = std::strstr(text, "reject") != nullptr;
    program->length = 1;
    program->instructions = &instruction;
    InterlockedIncrement(&compiled);
    return 0;
}

__declspec(dllexport) int pcap_setfilter(Handle* handle, Program* program) {
    if (program->instructions != &instruction) return -1;
    if (handle->rejectFilter) {
        std::strcpy(handle->error, "cannot set");
        return -1;
    }
    return 0;
}

__declspec(dllexport) void pcap_freecode(Program* program) {
    if (program->instructions == &instruction) InterlockedIncrement(&freed);
    program->instructions = nullptr;
}

__declspec(dllexport) char* pcap_geterr(Handle* handle) {
    return handle->error;
}

__declspec(dllexport) void fake_wpcap_counters(LONG* out) {
    out[0] = opened;
    out[1] = closed;
    out[2] = compiled;
    out[3] = freed;
}

}  // extern "C"
