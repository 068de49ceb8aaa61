// Threads: how the core starts its background work (discovery cycles, probe loops, the LLDP
// listener). Behind the port tests can run work inline or hold it until they choose to run it.
#pragma once

#include <functional>
#include <memory>

namespace quillon {

// A worker that can be waited for. Destroying it without Join() joins it as well, so no worker
// outlives the object that started it.
class Worker {
public:
    virtual ~Worker() = default;
    virtual void Join() = 0;
};

class Threads {
public:
    virtual ~Threads() = default;

    // Starts work that nobody waits for. Returns false when no thread could be started; the
    // work is then not run.
    virtual bool StartDetached(std::function<void()> work) = 0;

    // Starts work that its owner joins later. Returns null when no thread could be started.
    virtual std::unique_ptr<Worker> StartJoinable(std::function<void()> work) = 0;
};

}  // namespace quillon
