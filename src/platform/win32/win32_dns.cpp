#include "platform/win32/win32_dns.h"

#include "platform/win32/win32_dns_records.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {

DnsAnswer Win32Dns::Query(const std::string& name, DnsType type, bool bypassCache) {
    DWORD flags = DNS_QUERY_STANDARD;
    if (bypassCache) flags |= DNS_QUERY_BYPASS_CACHE;
    IP4_ARRAY servers{};
    IP4_ARRAY* extra = nullptr;
    if (!options_.server.IsZero()) {
        servers.AddrCount = 1;
        servers.AddrArray[0] = options_.server.NetworkOrder();
        extra = &servers;
        // A named server is asked, never the cache or the hosts file.
        flags |= DNS_QUERY_BYPASS_CACHE | DNS_QUERY_NO_HOSTS_FILE;
    }
    DNS_RECORDW* records = nullptr;
    const DNS_STATUS status = DnsQuery_W(Wide(name).c_str(), static_cast<WORD>(type), flags, extra,
                                         reinterpret_cast<DNS_RECORD**>(&records), nullptr);
    DnsAnswer answer = AnswerOf(status, records);
    if (records != nullptr)
        DnsRecordListFree(reinterpret_cast<DNS_RECORD*>(records), DnsFreeRecordList);
    return answer;
}

}  // namespace quillon::win32
