// Win32Threads: the Threads port over std::thread (MinGW's posix thread model runs it on
// native threads). The entry point creates one for the process; any thread may start work.
#pragma once

#include "platform/threads.h"

namespace quillon::win32 {

class Win32Threads final : public Threads {
public:
    bool StartDetached(std::function<void()> work) override;
    std::unique_ptr<Worker> StartJoinable(std::function<void()> work) override;
};

}  // namespace quillon::win32
