#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

using DispatchWork = std::function<void()>;

// How urgent queued work is. Kept so callers can say what they mean; every queue runs on one
// shared pool, which does not prioritise.
enum class QualityOfService { background, utility, defaultQoS, userInitiated, userInteractive };

// A place to run work: the main queue (the Qt GUI thread's event loop), a serial queue (a strand of
// FIFO work on the shared pool: one item at a time, in order, never a thread of its own) or a global
// concurrent queue (the shared pool itself).
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
public:
    virtual ~DispatchQueue() = default;

    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    // Runs `work` later on this queue; never inline.
    virtual void async(DispatchWork work) = 0;

    // Runs `work` on this queue and returns when it has finished. On a serial queue the work runs on
    // the caller's thread once every earlier item has run; on the main queue from another thread it
    // runs on the main thread. Called from the queue itself it runs inline instead of deadlocking.
    virtual void sync(const DispatchWork& work) = 0;

    // Runs `work` on this queue once `delay` has passed (at the earliest).
    void asyncAfter(std::chrono::nanoseconds delay, DispatchWork work);
    void asyncAfterSeconds(double seconds, DispatchWork work);

    // Whether the calling code is running on this queue right now.
    virtual bool isCurrent() const = 0;

    virtual bool isSerial() const = 0;

    const std::string& label() const { return m_label; }

    // The main queue: work posted to the Qt application object, run in FIFO order by its event loop.
    static std::shared_ptr<DispatchQueue> main();

    // The global concurrent queue for `qos` (all share the one pool).
    static std::shared_ptr<DispatchQueue> global(QualityOfService qos = QualityOfService::defaultQoS);

    // A new serial queue with `label`.
    static std::shared_ptr<DispatchQueue> makeSerial(std::string label);

    // A new concurrent queue with `label`, on the shared pool.
    static std::shared_ptr<DispatchQueue> makeConcurrent(std::string label);

    // Whether the caller runs on the main (Qt GUI) thread. False when no application object exists.
    static bool isMainThread();

    // The serial or main queue the caller runs on, if any (innermost when queues nest through sync).
    static DispatchQueue* current();

protected:
    explicit DispatchQueue(std::string label)
        : m_label(std::move(label))
    {
    }

private:
    std::string m_label;
};

// Runs the main thread's event loop, without user input, until `done` holds or `limit` passes, and
// says whether `done` held. For the program's end, when the loop has stopped but work that finishes
// through the main queue must still run. Main thread only.
bool runMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// How many threads the shared pool keeps for queued work (more stand in for those waiting in a sync
// call or a group's wait).
unsigned sharedPoolSize();

// Counts outstanding work and runs notifications when the count returns to zero.
class DispatchGroup : public std::enable_shared_from_this<DispatchGroup> {
public:
    static std::shared_ptr<DispatchGroup> make();

    void enter();
    void leave();

    // Runs `work` on `queue` once every `enter` has been matched by a `leave` (at once if it has).
    void notify(const std::shared_ptr<DispatchQueue>& queue, DispatchWork work);

    // Blocks until the group is empty or `timeout` passes; true when it emptied. Never call it on the
    // main thread for work that needs the main queue.
    bool wait(std::chrono::nanoseconds timeout = std::chrono::nanoseconds::max());

    // Runs `work` on `queue` as a member of this group.
    void async(const std::shared_ptr<DispatchQueue>& queue, DispatchWork work);

private:
    DispatchGroup() = default;
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace platform
