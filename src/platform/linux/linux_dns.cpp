#include "platform/linux/linux_dns.h"

#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <cstring>
#include <vector>

#include "platform/linux/linux_dns_parse.h"

namespace quillon::lnx {

DnsAnswer LinuxDns::Query(const std::string& name, DnsType type, bool /*bypassCache*/) {
    DnsAnswer answer;
    struct __res_state state;
    std::memset(&state, 0, sizeof(state));
    if (res_ninit(&state) != 0) {
        answer.error = NO_RECOVERY;
        return answer;
    }
    if (!options_.server.IsZero()) {
        state.nsaddr_list[0].sin_family = AF_INET;
        state.nsaddr_list[0].sin_addr.s_addr = options_.server.NetworkOrder();
        state.nsaddr_list[0].sin_port = htons(options_.port);
        state.nscount = 1;
    }
    // Room for the largest UDP answer and, over TCP after truncation, a generous TXT set.
    std::vector<uint8_t> buffer(65535);
    const int length = res_nquery(&state, name.c_str(), ns_c_in, static_cast<int>(type),
                                  buffer.data(), static_cast<int>(buffer.size()));
    if (length < 0) {
        answer.error = state.res_h_errno != 0 ? state.res_h_errno : NO_RECOVERY;
        res_nclose(&state);
        return answer;
    }
    res_nclose(&state);
    return ParseDnsResponse(buffer.data(), static_cast<size_t>(length));
}

}  // namespace quillon::lnx
