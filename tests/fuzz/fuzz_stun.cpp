// Fuzzes the reading of STUN Binding answers and of the --stun-server text. The answer is read
// for the transaction id it carries (so the fuzzer reaches the attributes) and for another one.
// Beyond not crashing: a foreign id is refused exactly when the header was otherwise fine; bytes
// after the declared length change nothing; an address read back is what an answer built for it
// (plain or XOR-ed) reads as; and a server text that parses prints back to itself.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/stun.h"
#include "fuzz_check.h"

using quillon::StunStatus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quillon::StunTransactionId id{};
    for (size_t i = 0; i < id.size() && 8 + i < size; ++i) id[i] = data[8 + i];
    const quillon::StunAnswer answer = quillon::ParseBindingAnswer(data, size, id);
    Check((answer.status == StunStatus::TooShort) == (size < quillon::kStunHeaderSize));
    Check(answer.status == StunStatus::Mapped || (answer.address.IsZero() && answer.port == 0));

    quillon::StunTransactionId other = id;
    other[11] ^= 0x5A;
    const quillon::StunAnswer foreign = quillon::ParseBindingAnswer(data, size, other);
    const bool headerFine = answer.status != StunStatus::TooShort &&
                            answer.status != StunStatus::NotSuccess &&
                            answer.status != StunStatus::BadCookie;
    Check(foreign.status == (headerFine ? StunStatus::OtherTransaction : answer.status));

    if (answer.status != StunStatus::TooShort && answer.status != StunStatus::Truncated) {
        std::vector<uint8_t> longer(data, data + size);
        longer.insert(longer.end(), {0x00, 0x20, 0x00, 0x08, 0x00, 0x01, 0xFF, 0xFF});
        const quillon::StunAnswer same = quillon::ParseBindingAnswer(longer, id);
        Check(same.status == answer.status && same.address == answer.address &&
              same.port == answer.port);
    }

    if (answer.status == StunStatus::Mapped) {
        for (const bool xored : {true, false}) {
            const quillon::StunAnswer again = quillon::ParseBindingAnswer(
                quillon::BuildBindingSuccess(id, answer.address, answer.port, xored), id);
            Check(again.status == StunStatus::Mapped && again.address == answer.address &&
                  again.port == answer.port);
        }
    }
    Check(quillon::ParseBindingAnswer(quillon::BuildBindingRequest(id), id).status ==
          StunStatus::NotSuccess);

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto server = quillon::ParseStunServer(text)) {
        Check(!server->host.empty() && server->host.find(':') == std::string::npos);
        Check(server->port != 0);
        const std::string printed = server->host + ":" + std::to_string(server->port);
        const auto back = quillon::ParseStunServer(printed);
        Check(back && back->host == server->host && back->port == server->port);
    }
    return 0;
}
