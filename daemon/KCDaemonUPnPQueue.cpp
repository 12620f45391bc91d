#include "KCDaemonUPnPQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <pthread.h>

namespace {
// What ps and debuggers show of a port mapper's UPnP worker; the kernel keeps 15 characters.
constexpr const char *kThreadName = "kc-upnp-mapper";
} // namespace

// The part the worker thread shares with the queue's holders. The lock guards the job list only;
// the jobs run with it released.
struct KCDaemonUPnPQueue::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool released = false;
    std::atomic<uint64_t> generation{0};

    void run()
    {
        pthread_setname_np(pthread_self(), kThreadName);
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return released || !jobs.empty(); });
                if (jobs.empty())
                    return;
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            job();
            // A job may hold the last reference to the queue; letting go of it here, with the lock
            // released, is what marks the queue released.
            job = nullptr;
        }
    }
};

KCDaemonUPnPQueue::KCDaemonUPnPQueue()
    : _shared(std::make_shared<Shared>())
{
    std::thread([shared = _shared] { shared->run(); }).detach();
}

KCDaemonUPnPQueue::~KCDaemonUPnPQueue()
{
    {
        const std::lock_guard lock(_shared->mutex);
        _shared->released = true;
    }
    _shared->wake.notify_one();
}

void KCDaemonUPnPQueue::async(Job job)
{
    {
        const std::lock_guard lock(_shared->mutex);
        _shared->jobs.push_back(std::move(job));
    }
    _shared->wake.notify_one();
}

void KCDaemonUPnPQueue::async(uint64_t generation, Job job)
{
    // Jobs run only on the worker thread, which keeps the shared part alive while it runs.
    Shared *shared = _shared.get();
    async([shared, generation, job = std::move(job)] {
        if (shared->generation.load() == generation)
            job();
    });
}

void KCDaemonUPnPQueue::setGeneration(uint64_t generation)
{
    _shared->generation.store(generation);
}

void KCDaemonUPnPQueue::toMainThread(std::function<void()> function)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(function), Qt::QueuedConnection);
}
