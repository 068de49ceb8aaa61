#include "app/power_watcher.h"

#include "base/log.h"
#include "platform/clock.h"
#include "platform/system.h"

namespace quillon {

const char* PowerStateName(int32_t state) {
    switch (state) {
        case 0:
            return "AC";
        case 1:
            return "Battery";
        case 2:
            return "Unknown";
        default:
            return "Invalid";
    }
}

uint32_t PowerWatcher::GetMeasurementInterval(bool active) {
    if (!active) return kChillIntervalMs;

    const uint64_t now = clock_.Tick64();
    if (sampled_ && now - lastSample_ < kPowerSampleReuseMs) {
        return cached_ == PowerState::Ac ? kActiveMainsIntervalMs : kActiveBatteryIntervalMs;
    }

    const PowerStatus status = system_.GetPowerStatus();
    if (!status.ok) {
        LogWrite(Warn, "GetSystemPowerStatus failed: %lu",
                 static_cast<unsigned long>(status.error));
        return kActiveBatteryIntervalMs;
    }
    PowerState state = PowerState::Unknown;
    if (status.acLineStatus == 1) {
        state = PowerState::Ac;
    } else if (status.acLineStatus == 0) {
        state = PowerState::Battery;
    }
    if (sampled_ && state != cached_) {
        LogWrite(Info, "Power state changed: %s -> %s",
                 PowerStateName(static_cast<int32_t>(cached_)),
                 PowerStateName(static_cast<int32_t>(state)));
    }
    cached_ = state;
    lastSample_ = now;
    sampled_ = true;
    return state == PowerState::Ac ? kActiveMainsIntervalMs : kActiveBatteryIntervalMs;
}

}  // namespace quillon
