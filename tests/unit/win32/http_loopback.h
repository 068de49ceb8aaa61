// What the WinHTTP tests share: loopback listeners (Win32Sockets starts Winsock for them), the
// exchanges both HTTP adapters' tests make alike, and the order the phases of a request on a
// new connection must come in.
#pragma once

#include <gtest/gtest.h>
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <cstdint>
#include <memory>
#include <string>

#include "fakes/http_exchange.h"
#include "platform/win32/win32_http.h"
#include "platform/win32/win32_sockets.h"

namespace quillon::win32::testing {

// A TCP socket bound to a free port on 127.0.0.1, listening.
inline SOCKET Listener(uint16_t* port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(self);
    bind(s, reinterpret_cast<sockaddr*>(&self), sizeof(self));
    getsockname(s, reinterpret_cast<sockaddr*>(&self), &size);
    listen(s, 16);
    *port = ntohs(self.sin_port);
    return s;
}

using test::ExpectPlainHello;
using test::ExpectStatusAnswers;
using test::Get;
using test::HeaderValue;
using test::Open;

// The phases of a request on a new connection come in their order.
inline void ExpectOrderedPhases(const HttpPhaseTimings& t, bool tls) {
    EXPECT_GT(t.connectedMs, 0);
    EXPECT_LE(t.nameResolvedMs, t.connectedMs);
    if (tls) {
        EXPECT_GE(t.tlsDoneMs, t.connectedMs);
        EXPECT_LE(t.tlsDoneMs, t.requestSentMs);
    } else {
        EXPECT_EQ(t.tlsDoneMs, 0);
    }
    EXPECT_LE(t.connectedMs, t.requestSentMs);
    EXPECT_LT(t.requestSentMs, t.firstByteMs);
    EXPECT_LE(t.firstByteMs, t.totalMs);
}

}  // namespace quillon::win32::testing
