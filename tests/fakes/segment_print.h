// Test output for the path's small enums: failures name them as the page does ("warning",
// "isp", "TRANS") instead of printing raw bytes.
#pragma once

#include <ostream>

#include "path/segment.h"

namespace quillon {

inline void PrintTo(Segment segment, std::ostream* out) {
    *out << SegmentId(segment);
}
inline void PrintTo(SegmentStatus status, std::ostream* out) {
    *out << StatusText(status);
}
inline void PrintTo(HopLabel label, std::ostream* out) {
    *out << LabelText(label);
}

}  // namespace quillon
