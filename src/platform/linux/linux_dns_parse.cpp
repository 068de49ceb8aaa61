#include "platform/linux/linux_dns_parse.h"

namespace quillon::lnx {

namespace {

constexpr size_t kHeaderSize = 12;
constexpr size_t kMaxNameLength = 255;
constexpr int kMaxPointerJumps = 64;

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

DnsAnswer Malformed() {
    DnsAnswer answer;
    answer.error = kDnsParseMalformed;
    return answer;
}

}  // namespace

std::string ReadDnsName(const uint8_t* message, size_t size, size_t offset, size_t* next) {
    std::string name;
    size_t wireLength = 0;
    bool jumped = false;
    int jumps = 0;
    size_t position = offset;
    for (;;) {
        if (position >= size) return "";
        const uint8_t length = message[position];
        if ((length & 0xC0) == 0xC0) {
            if (position + 1 >= size || ++jumps > kMaxPointerJumps) return "";
            if (!jumped && next != nullptr) *next = position + 2;
            jumped = true;
            position = static_cast<size_t>(Read16(message + position) & 0x3FFF);
            continue;
        }
        if ((length & 0xC0) != 0) return "";  // reserved label kinds
        if (length == 0) {
            if (!jumped && next != nullptr) *next = position + 1;
            // The root name is "."; every other name is written without the trailing dot.
            return name.empty() ? "." : name;
        }
        wireLength += length + 1u;
        if (wireLength > kMaxNameLength || position + 1 + length > size) return "";
        if (!name.empty()) name += '.';
        name.append(reinterpret_cast<const char*>(message + position + 1), length);
        position += 1 + length;
    }
}

DnsAnswer ParseDnsResponse(const uint8_t* message, size_t size) {
    if (message == nullptr || size < kHeaderSize) return Malformed();
    const uint16_t flags = Read16(message + 2);
    if ((flags & 0x8000) == 0) return Malformed();  // not a response
    const int rcode = flags & 0x000F;
    if (rcode != 0) {
        DnsAnswer answer;
        answer.error = rcode;
        return answer;
    }
    const uint16_t questions = Read16(message + 4);
    const uint16_t answers = Read16(message + 6);

    size_t position = kHeaderSize;
    for (uint16_t i = 0; i < questions; ++i) {
        size_t next = 0;
        if (ReadDnsName(message, size, position, &next).empty()) return Malformed();
        if (next + 4 > size) return Malformed();
        position = next + 4;
    }

    DnsAnswer result;
    for (uint16_t i = 0; i < answers; ++i) {
        size_t next = 0;
        DnsRecord record;
        record.name = ReadDnsName(message, size, position, &next);
        if (record.name.empty() || next + 10 > size) return Malformed();
        const uint16_t type = Read16(message + next);
        const uint16_t dataLength = Read16(message + next + 8);
        const size_t data = next + 10;
        if (data + dataLength > size) return Malformed();
        record.type = static_cast<DnsType>(type);
        switch (type) {
            case static_cast<uint16_t>(DnsType::A):
                if (dataLength != 4) return Malformed();
                record.a = Ipv4Address(message[data], message[data + 1], message[data + 2],
                                       message[data + 3]);
                break;
            case static_cast<uint16_t>(DnsType::Ptr):
            case kDnsTypeCname: {
                size_t end = 0;
                // The target may point back into the message but must not run past its data.
                record.ptr = ReadDnsName(message, data + dataLength, data, &end);
                if (record.ptr.empty() || end != data + dataLength) return Malformed();
                break;
            }
            case static_cast<uint16_t>(DnsType::Txt): {
                size_t at = data;
                const size_t end = data + dataLength;
                while (at < end) {
                    const size_t length = message[at];
                    if (at + 1 + length > end) return Malformed();
                    record.strings.emplace_back(reinterpret_cast<const char*>(message + at + 1),
                                                length);
                    at += 1 + length;
                }
                break;
            }
            default:
                break;
        }
        result.records.push_back(std::move(record));
        position = data + dataLength;
    }
    result.ok = true;
    return result;
}

}  // namespace quillon::lnx
