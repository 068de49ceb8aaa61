// Numbers the core and the shell agree on: the main window's timers and the messages the core
// posts to its own UI thread with Shell::PostToSelf. The main controller dispatches on them;
// the watchers and the page host post them from any thread.
#pragma once

#include <cstdint>

namespace quillon {

// Timers of the main window.
constexpr int kMeasurementTimer = 1;      // the measurement tick
constexpr int kUpdateNoticeTimer = 2;     // once, 5 s after start
constexpr int kNetChangeSettleTimer = 3;  // fires when a burst of network changes went quiet

// Tray menu commands.
constexpr int kCommandShowHide = 2001;
constexpr int kCommandLaunchAtStartup = 2002;
constexpr int kCommandExit = 2003;

// Posted messages.
constexpr uint32_t kNetChangeMessage = 0x402;         // handle a network change now
constexpr uint32_t kMeasurementTickMessage = 0x403;   // a measurement tick at once
constexpr uint32_t kNetChangeArrivedMessage = 0x404;  // a burst of notifications began
constexpr uint32_t kPageOutboxMessage = 0x405;        // texts from workers wait for the page

constexpr uint32_t kUpdateNoticeDelayMs = 5000;

}  // namespace quillon
