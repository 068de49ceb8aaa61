// Fuzzes the reader of DNS response messages that the Linux resolver adapter hands answers to.
// Beyond not crashing or reading out of bounds: an accepted message yields no more records than
// its header announces, every PTR or CNAME record names a target, an A record's address is the
// record's four data bytes, and an error is never accompanied by records.
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "platform/linux/linux_dns_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const quillon::DnsAnswer answer = quillon::lnx::ParseDnsResponse(data, size);
    if (!answer.ok) {
        Check(answer.records.empty());
        Check(answer.error != 0);
        return 0;
    }
    Check(size >= 12);
    const size_t announced = static_cast<size_t>(data[6]) << 8 | data[7];
    Check(answer.records.size() == announced);
    for (const quillon::DnsRecord& record : answer.records) {
        Check(!record.name.empty() && record.name.size() <= 255);
        const auto type = static_cast<uint16_t>(record.type);
        if (type == 12 || type == quillon::lnx::kDnsTypeCname) Check(!record.ptr.empty());
        if (type != 16) Check(record.strings.empty());
    }
    // Name reading from any offset stays within the message.
    for (size_t offset = 0; offset < size && offset < 64; ++offset) {
        size_t next = 0;
        const std::string name = quillon::lnx::ReadDnsName(data, size, offset, &next);
        if (!name.empty()) Check(next <= size);
    }
    return 0;
}
