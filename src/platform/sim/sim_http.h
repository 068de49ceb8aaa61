// SimHttp: the Http port over a SimWorld's service hosts. A request goes through the phases a
// real client goes through, each letting its time pass on the world's clock and each asking the
// world as it is then (so a timeline change during a request takes effect at the next phase):
// name resolution (the host's dnsMs), TCP connect, the TLS handshake for https (one round trip
// for TLS 1.3, two for older versions), the request, the first byte and the transfer of the body.
// Every request opens its own connection, as freshConnection asks. A service host's answer
// depends on the path alone; the gateway's console (sim_console.h) also reads the method,
// headers and body, and answers with headers of its own (cookies).
//
// Errors: 12005 for an address that is not http(s)://host[:port][/path]; 12007 for a name
// without A records; 12029 when no route leads to the host or it refuses the connection; 12002
// when a phase takes longer than timeoutMs (connect, TLS, first byte) or the whole exchange
// longer than its bound; 12175 for https to a host without TLS; 12045 (self-signed) and 12037
// (outside its dates) with the certificate still reported, unless ignoreCertificateErrors;
// 12152 when the port has no web server behind it; 12156 after more than 10 redirects.
//
// Sessions keep no state; any number of threads may send at once. The world outlives the
// adapter and its sessions.
#pragma once

#include <memory>
#include <string>

#include "platform/http.h"
#include "platform/sim/sim_world.h"

namespace quillon::sim {

class SimHttp final : public Http {
public:
    explicit SimHttp(SimWorld& world) : world_(world) {}
    std::unique_ptr<HttpSession> OpenSession(const std::string& userAgent,
                                             uint32_t* error) override;

private:
    SimWorld& world_;
};

}  // namespace quillon::sim
