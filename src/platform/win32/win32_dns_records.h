// Turning what DnsQuery_W returns (a status and a linked record list) into the Dns port's
// answer, kept apart from the call so that unit tests reach it with records built in the test.
// Pure function; any thread.
//
// Only the answer section counts, in the list's order. A, PTR and TXT fill their fields; a
// CNAME keeps its type number (5) with the target in `ptr`, so that a caller looking at the
// first record sees it; records of other types keep their type number and no data. A status
// other than 0 is an error carrying that status (9003 no such name, 9501 no records of the
// type, 1460 time-out, ...).
#pragma once

// clang-format off
#include <windows.h>
#include <windns.h>
// clang-format on

#include "platform/dns.h"

namespace quillon::win32 {

DnsAnswer AnswerOf(DNS_STATUS status, const DNS_RECORDW* records);

}  // namespace quillon::win32
