// Reader of DNS response messages for the Linux Dns adapter: the whole message as the resolver
// returned it in, the answer section out. Pure function (bytes and length in), reached by unit
// tests and a fuzzer; any thread.
//
// Records keep the answer section's order. A, PTR and TXT fill their fields; a CNAME keeps its
// type number (5) with the target in `ptr`, so that a caller looking at the first record sees
// it; records of other types keep their type number and no data. Compressed names are followed
// with a bound on jumps and length. A truncated or malformed message is an error (ok false,
// error kDnsParseMalformed), never a partial answer; a response code other than 0 is an error
// carrying that code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/dns.h"

namespace quillon::lnx {

constexpr int kDnsParseMalformed = -1;
constexpr uint16_t kDnsTypeCname = 5;

DnsAnswer ParseDnsResponse(const uint8_t* message, size_t size);

// The question name of a message read back as dotted text ("" on malformed input); tests use
// it to check the names the adapter asks for.
std::string ReadDnsName(const uint8_t* message, size_t size, size_t offset, size_t* next);

}  // namespace quillon::lnx
