#include "path/segment.h"

namespace quillon {

const char* SegmentId(Segment segment) {
    switch (segment) {
        case Segment::Device:
            return "device";
        case Segment::Connection:
            return "connection";
        case Segment::HomeNetwork:
            return "homeNetwork";
        case Segment::Isp:
            return "isp";
        case Segment::Services:
            return "services";
    }
    return "unknown";
}

const char* StatusText(SegmentStatus status) {
    switch (status) {
        case SegmentStatus::Healthy:
            return "healthy";
        case SegmentStatus::Warning:
            return "warning";
        case SegmentStatus::Critical:
            return "critical";
        case SegmentStatus::Unknown:
            return "unknown";
    }
    return "unknown";
}

const char* LabelText(HopLabel label) {
    switch (label) {
        case HopLabel::Local:
            return "LOCAL";
        case HopLabel::Isp:
            return "ISP";
        case HopLabel::Transit:
            return "TRANS";
        case HopLabel::Destination:
            return "DEST";
        case HopLabel::Unknown:
            return "?";
    }
    return "?";
}

}  // namespace quillon
