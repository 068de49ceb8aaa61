// LinuxThreads: the Threads port over std::thread. The entry point creates one for the process;
// the core starts its discovery cycles, probe loops and listeners through it from any thread.
#pragma once

#include "platform/threads.h"

namespace quillon::lnx {

class LinuxThreads final : public Threads {
public:
    bool StartDetached(std::function<void()> work) override;
    std::unique_ptr<Worker> StartJoinable(std::function<void()> work) override;
};

}  // namespace quillon::lnx
