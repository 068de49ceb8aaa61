// Fuzzes the readers of the measurement archive's lines. Beyond not crashing: a line read as a
// sample or a verdict is written back and read again to the same record (what an export
// writes reads back as what the archive held); a sample's time, when it is one, names an
// instant; and the written line is one line.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/time_text.h"
#include "fuzz_check.h"
#include "path/archive_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);

    if (const auto sample = quillon::ParseSampleLine(line)) {
        std::string written;
        quillon::AppendSampleLine(written, *sample);
        Check(written.find('\n') == written.size() - 1);
        written.pop_back();
        const auto again = quillon::ParseSampleLine(written);
        // Texts longer than the writer keeps are cut; everything else is kept exactly.
        if (sample->ts.size() <= 255 && sample->hop.size() <= 255) {
            Check(again.has_value() && *again == *sample);
        }
    }
    if (const auto verdict = quillon::ParseVerdictLine(line)) {
        Check(quillon::ParseIsoTime(verdict->ts).has_value());
        std::string written;
        quillon::AppendVerdictLine(written, *verdict);
        Check(written.find('\n') == written.size() - 1);
        written.pop_back();
        Check(quillon::ParseVerdictLine(written).has_value());
    }
    (void)quillon::ParseIsoTime(line);
    (void)quillon::ParseDateText(line);
    return 0;
}
