// The stretches of the path the user is shown (this computer, its link, the home network, the
// ISP, the destination) and the status each one has; and the label a traceroute gives a hop.
// Plain values; their texts are written only where messages and logs are.
#pragma once

#include <array>
#include <cstdint>

namespace quillon {

// The segments of the path picture, in display order.
enum class Segment : uint8_t { Device, Connection, HomeNetwork, Isp, Services };
inline constexpr int kSegmentCount = 5;
inline constexpr std::array<Segment, kSegmentCount> kSegments = {
    Segment::Device, Segment::Connection, Segment::HomeNetwork, Segment::Isp, Segment::Services};

// "device", "connection", "homeNetwork", "isp", "services".
const char* SegmentId(Segment segment);

// Ordered by severity: Healthy < Warning < Critical; Unknown is "not measured".
enum class SegmentStatus : uint8_t { Healthy, Warning, Critical, Unknown };

// "healthy", "warning", "critical", "unknown".
const char* StatusText(SegmentStatus status);

inline bool IsImpaired(SegmentStatus status) {
    return status == SegmentStatus::Warning || status == SegmentStatus::Critical;
}

// The stretch of the path a traceroute puts a hop in.
enum class HopLabel : uint8_t {
    Local,        // this computer's network (and the first hop, always)
    Isp,          // the AS of the first hop past the home that has one
    Transit,      // another AS on the way
    Destination,  // the destination itself, or a hop in its AS
    Unknown,      // silent, or answering without an AS
};

// "LOCAL", "ISP", "TRANS", "DEST", "?".
const char* LabelText(HopLabel label);

}  // namespace quillon
