#include "platform/win32/win32_dns_records.h"

#include "platform/win32/win32_text.h"

namespace quillon::win32 {

DnsAnswer AnswerOf(DNS_STATUS status, const DNS_RECORDW* records) {
    DnsAnswer answer;
    if (status != 0) {
        answer.error = static_cast<int>(status);
        return answer;
    }
    answer.ok = true;
    for (const DNS_RECORDW* record = records; record != nullptr; record = record->pNext) {
        if (record->Flags.S.Section != DnsSectionAnswer) continue;
        DnsRecord out;
        out.type = static_cast<DnsType>(record->wType);
        out.name = Narrow(record->pName);
        switch (record->wType) {
            case DNS_TYPE_A:
                out.a = Ipv4Address::FromNetworkOrder(record->Data.A.IpAddress);
                break;
            case DNS_TYPE_PTR:
            case DNS_TYPE_CNAME:
                out.ptr = Narrow(record->Data.PTR.pNameHost);
                break;
            case DNS_TYPE_TEXT:
                for (DWORD i = 0; i < record->Data.TXT.dwStringCount; ++i) {
                    out.strings.push_back(Narrow(record->Data.TXT.pStringArray[i]));
                }
                break;
            default:
                break;
        }
        answer.records.push_back(std::move(out));
    }
    return answer;
}

}  // namespace quillon::win32
