#pragma once

#include "KCFakeUPnPIGDClient.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

// The scripted gateway for code that runs its UPnP jobs on a worker thread of its own: every
// call of a job goes through one lock, and a test reads or changes the gateway under the same
// lock. A test can also hold discoveries at the door, to have a job in flight at a moment of its
// choosing.
class KCSharedFakeUPnPIGDClient final : public KCUPnPIGDClient {
public:
    ~KCSharedFakeUPnPIGDClient() override;

    KCUPnPDiscovery discover(uint32_t gatewayAddress) override;

    // Runs the function with the gateway while no job is in one of its calls.
    template <typename Function>
    auto with(Function function)
    {
        const std::lock_guard lock(m_mutex);
        return function(m_fake);
    }

    // Discoveries wait from now on until release(), or until the deadline passes, so a test that
    // fails cannot leave a thread blocked for good.
    void hold(std::chrono::milliseconds deadline = std::chrono::seconds(20));
    void release();
    // Waits until a discovery is waiting at the door; false after the deadline.
    bool waitUntilHeld(std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Whether a discovery is waiting at the door now.
    bool isHolding();

private:
    class Devices;
    class Session;

    std::mutex m_mutex;
    KCFakeUPnPIGDClient m_fake;

    std::mutex m_doorMutex;
    std::condition_variable m_door;
    bool m_held = false;
    int m_waiting = 0;
    std::chrono::steady_clock::time_point m_holdUntil;
};
