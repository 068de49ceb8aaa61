// StdThreads: the Threads port over std::thread, for every build with native threads (Linux,
// and Windows through MinGW's posix thread model). The entry point creates one for the process;
// the core starts its discovery cycles, probe loops and listeners through it from any thread.
#pragma once

#include "platform/threads.h"

namespace quillon {

class StdThreads final : public Threads {
public:
    bool StartDetached(std::function<void()> work) override;
    std::unique_ptr<Worker> StartJoinable(std::function<void()> work) override;
};

}  // namespace quillon
