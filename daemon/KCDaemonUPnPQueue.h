#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// The serial queue a port mapper runs its blocking UPnP work on: a worker thread of its own that
// runs the jobs one at a time, in the order they were queued. Whoever holds the queue may queue
// work; the jobs themselves may hold it too, so that a result that comes back after its mapper is
// gone can still queue the removal of what it made. Once the last holder lets go, the thread runs
// what is still queued and then ends and frees itself: nobody ever waits for it, so dropping the
// queue never blocks the main thread behind a discovery.
class KCDaemonUPnPQueue {
public:
    using Job = std::function<void()>;

    KCDaemonUPnPQueue();
    ~KCDaemonUPnPQueue();
    KCDaemonUPnPQueue(const KCDaemonUPnPQueue &) = delete;
    KCDaemonUPnPQueue &operator=(const KCDaemonUPnPQueue &) = delete;

    // Runs the job after everything queued before it.
    void async(Job job);
    // The same, for work done on behalf of one attempt: when its turn comes and the queue's
    // generation has moved on, the job is dropped unrun, since its result would be thrown away
    // on arrival and two seconds of discovery would hold up the work queued behind it.
    void async(uint64_t generation, Job job);
    // The generation of the owner's current attempt. Called on the owner's thread.
    void setGeneration(uint64_t generation);

    // Runs the function on the application's main thread, from its event loop. For jobs handing
    // their results back; callable from any thread.
    static void toMainThread(std::function<void()> function);

private:
    struct Shared;

    std::shared_ptr<Shared> _shared;
};
