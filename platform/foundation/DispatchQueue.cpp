#include "platform/foundation/DispatchQueue.h"

#include "platform/foundation/ThreadSanitizer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace {

// The queues whose strand the current thread holds, innermost last.
thread_local std::vector<const DispatchQueue*> t_currentQueues;

class CurrentQueueScope {
public:
    explicit CurrentQueueScope(const DispatchQueue* queue) { t_currentQueues.push_back(queue); }
    ~CurrentQueueScope() { t_currentQueues.pop_back(); }
    CurrentQueueScope(const CurrentQueueScope&) = delete;
    CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;
};

bool holdsQueue(const DispatchQueue* queue)
{
    return std::find(t_currentQueues.begin(), t_currentQueues.end(), queue) != t_currentQueues.end();
}

// The one pool every serial and global queue runs on. It is never destroyed: work may still be
// queued while static objects are torn down at exit, and joining threads then would hang.
//
// A pool thread that waits for other queued work (a sync call to a serial queue or to the main
// queue, a group's wait) says so, and a thread is started to stand in for it while it waits: work
// that the waiter needs may sit behind it in this very pool, and with every thread waiting nothing
// would ever run it. A thread beyond the pool's size ends once it has been idle for a while.
class ThreadPool {
public:
    static ThreadPool& shared()
    {
        static ThreadPool* pool = new ThreadPool(std::max(8u, std::thread::hardware_concurrency() * 2));
        return *pool;
    }

    unsigned size() const { return m_size; }

    void post(DispatchWork work)
    {
        {
            std::lock_guard lock(m_mutex);
            m_work.push_back(std::move(work));
        }
        m_ready.notify_one();
    }

    // Marks the calling thread as waiting for other work until the matching `endWaiting`. Does
    // nothing on a thread that is not the pool's.
    void beginWaiting()
    {
        if (!t_poolThread || t_waitDepth++ > 0)
            return;
        bool start = false;
        {
            std::lock_guard lock(m_mutex);
            ++m_waiting;
            start = m_threads - m_waiting < m_size && m_threads < maxThreads;
            if (start)
                ++m_threads;
        }
        if (start)
            startThread();
    }

    void endWaiting()
    {
        if (!t_poolThread || --t_waitDepth > 0)
            return;
        std::lock_guard lock(m_mutex);
        --m_waiting;
    }

private:
    // Threads that stand in for waiting ones stop being added here: past this, waits that need
    // each other are a fault of their own and more threads would not mend it.
    static constexpr unsigned maxThreads = 512;
    static constexpr auto surplusIdleLimit = std::chrono::seconds(5);

    explicit ThreadPool(unsigned threadCount)
        : m_size(threadCount)
        , m_threads(threadCount)
    {
        for (unsigned i = 0; i < threadCount; ++i)
            startThread();
    }

    void startThread()
    {
        std::thread([this] { run(); }).detach();
    }

    bool hasSurplus() const { return m_threads - m_waiting > m_size; }

    void run()
    {
        t_poolThread = true;
        for (;;) {
            DispatchWork work;
            {
                std::unique_lock lock(m_mutex);
                while (m_work.empty()) {
                    if (!hasSurplus()) {
                        m_ready.wait(lock);
                        continue;
                    }
                    if (!m_ready.wait_for(lock, surplusIdleLimit, [this] { return !m_work.empty(); })
                        && hasSurplus()) {
                        --m_threads;
                        return;
                    }
                }
                work = std::move(m_work.front());
                m_work.pop_front();
            }
            work();
        }
    }

    static thread_local bool t_poolThread;
    static thread_local int t_waitDepth;

    const unsigned m_size;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<DispatchWork> m_work; // behind m_mutex
    unsigned m_threads; // behind m_mutex
    unsigned m_waiting = 0; // behind m_mutex
};

thread_local bool ThreadPool::t_poolThread = false;
thread_local int ThreadPool::t_waitDepth = 0;

// Held while the calling thread waits for work queued elsewhere.
class PoolWaitScope {
public:
    PoolWaitScope() { ThreadPool::shared().beginWaiting(); }
    ~PoolWaitScope() { ThreadPool::shared().endWaiting(); }
    PoolWaitScope(const PoolWaitScope&) = delete;
    PoolWaitScope& operator=(const PoolWaitScope&) = delete;
};

// Fires delayed work at its deadline by handing it to its queue. One thread for the process.
class DelayedWorkThread {
public:
    static DelayedWorkThread& shared()
    {
        static DelayedWorkThread* thread = new DelayedWorkThread;
        return *thread;
    }

    void schedule(std::chrono::steady_clock::time_point deadline, std::shared_ptr<DispatchQueue> queue,
        DispatchWork work)
    {
        {
            std::lock_guard lock(m_mutex);
            m_pending.emplace(deadline, Entry { std::move(queue), std::move(work) });
        }
        m_changed.notify_one();
    }

private:
    struct Entry {
        std::shared_ptr<DispatchQueue> queue;
        DispatchWork work;
    };

    DelayedWorkThread()
    {
        std::thread([this] { run(); }).detach();
    }

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_pending.empty()) {
                m_changed.wait(lock);
                continue;
            }
            auto first = m_pending.begin();
            if (std::chrono::steady_clock::now() < first->first) {
                m_changed.wait_until(lock, first->first);
                continue;
            }
            Entry entry = std::move(first->second);
            m_pending.erase(first);
            lock.unlock();
            entry.queue->async(std::move(entry.work));
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::multimap<std::chrono::steady_clock::time_point, Entry> m_pending;
};

// Work for the main thread waits in a queue of our own behind one posted Qt event. Our own lock
// (not Qt's event queue) hands the work over, which keeps the hand-over visible to thread
// sanitizers, and a drain runs only what was queued when it began, so work that keeps re-posting
// itself cannot starve the event loop. The event itself is made here and read there: it is marked
// as handed over, since Qt's own locks between the two are out of the sanitizer's sight.
class MainQueue final : public DispatchQueue {
public:
    MainQueue()
        : DispatchQueue("main")
    {
    }

    void async(DispatchWork work) override
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return; // No event loop will ever run it.
        bool postDrain = false;
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(std::move(work));
            postDrain = !m_drainPosted;
            m_drainPosted = true;
        }
        if (postDrain)
            postDrainEvent(app);
    }

    void sync(const DispatchWork& work) override
    {
        if (!QCoreApplication::instance() || isMainThread()) {
            CurrentQueueScope scope(this);
            work();
            return;
        }
        std::mutex doneMutex;
        std::condition_variable doneChanged;
        bool done = false;
        async([&] {
            work();
            std::lock_guard lock(doneMutex);
            done = true;
            doneChanged.notify_one();
        });
        PoolWaitScope waiting;
        std::unique_lock lock(doneMutex);
        doneChanged.wait(lock, [&] { return done; });
    }

    bool isCurrent() const override { return isMainThread(); }
    bool isSerial() const override { return true; }

    static MainQueue& mainQueue();

private:
    void drain()
    {
        std::size_t count = 0;
        {
            std::lock_guard lock(m_mutex);
            count = m_items.size();
            // This drain's event has arrived: work queued from now on posts the next one at once, so
            // an event loop that the work runs (a modal dialog, a wait for saves) drains it too.
            m_drainPosted = false;
        }
        CurrentQueueScope scope(this);
        for (std::size_t i = 0; i < count; ++i) {
            DispatchWork work;
            {
                std::lock_guard lock(m_mutex);
                // A drain inside an event loop that earlier work ran may have taken the rest.
                if (m_items.empty())
                    break;
                work = std::move(m_items.front());
                m_items.pop_front();
            }
            work();
        }
        bool postAgain = false;
        {
            std::lock_guard lock(m_mutex);
            postAgain = !m_items.empty() && !m_drainPosted;
            m_drainPosted = m_drainPosted || postAgain;
        }
        if (postAgain) {
            if (QCoreApplication* app = QCoreApplication::instance())
                postDrainEvent(app);
        }
    }

    // Receives the drain events on the main thread.
    class Receiver final : public QObject {
    public:
        static QEvent::Type drainType()
        {
            static const auto type = QEvent::Type(QEvent::registerEventType());
            return type;
        }
        bool event(QEvent* event) override
        {
            handOverAcquire(event);
            if (event->type() != drainType())
                return QObject::event(event);
            mainQueue().drain();
            return true;
        }
    };

    void postDrainEvent(QCoreApplication* app)
    {
        QObject* receiver = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (!m_receiver || m_receiverApp != app) {
                // Made on whichever thread posts first, then handed to the main thread for good.
                m_receiver = new Receiver;
                m_receiver->moveToThread(app->thread());
                m_receiverApp = app;
            }
            receiver = m_receiver;
        }
        auto* drain = new QEvent(Receiver::drainType());
        handOverRelease(drain);
        QCoreApplication::postEvent(receiver, drain);
    }

    std::mutex m_mutex;
    std::deque<DispatchWork> m_items;
    bool m_drainPosted = false;
    // Never deleted: drain events may be on their way to it until the process ends.
    QObject* m_receiver = nullptr;
    const QCoreApplication* m_receiverApp = nullptr;
};

class SerialQueue final : public DispatchQueue {
public:
    explicit SerialQueue(std::string label)
        : DispatchQueue(std::move(label))
    {
    }

    void async(DispatchWork work) override
    {
        bool startDrain = false;
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(Item { std::move(work), nullptr });
            if (!m_draining) {
                m_draining = true;
                startDrain = true;
            }
        }
        if (startDrain)
            scheduleDrain();
    }

    void sync(const DispatchWork& work) override
    {
        if (holdsQueue(this)) {
            work();
            return;
        }
        std::shared_ptr<Handoff> handoff;
        {
            std::lock_guard lock(m_mutex);
            if (m_draining || !m_items.empty()) {
                handoff = std::make_shared<Handoff>();
                m_items.push_back(Item { nullptr, handoff });
            } else {
                m_draining = true;
            }
        }
        if (handoff) {
            PoolWaitScope waiting;
            std::unique_lock lock(handoff->mutex);
            handoff->ready.wait(lock, [&] { return handoff->granted; });
        }
        // The caller now holds the strand: nothing else on this queue runs until it is released.
        {
            CurrentQueueScope scope(this);
            work();
        }
        releaseStrand();
    }

    bool isCurrent() const override { return holdsQueue(this); }
    bool isSerial() const override { return true; }

private:
    struct Handoff {
        std::mutex mutex;
        std::condition_variable ready;
        bool granted = false;
    };
    struct Item {
        DispatchWork work;
        std::shared_ptr<Handoff> handoff;
    };

    void scheduleDrain()
    {
        auto self = std::static_pointer_cast<SerialQueue>(shared_from_this());
        ThreadPool::shared().post([self] { self->drain(); });
    }

    void releaseStrand()
    {
        bool more = false;
        {
            std::lock_guard lock(m_mutex);
            more = !m_items.empty();
            if (!more)
                m_draining = false;
        }
        if (more)
            scheduleDrain();
    }

    void drain()
    {
        // A bounded batch per turn keeps one busy queue from holding a pool thread forever.
        constexpr int batchSize = 64;
        for (int done = 0; done < batchSize; ++done) {
            Item item;
            {
                std::lock_guard lock(m_mutex);
                if (m_items.empty()) {
                    m_draining = false;
                    return;
                }
                item = std::move(m_items.front());
                m_items.pop_front();
            }
            if (item.handoff) {
                // Hand the strand to the thread waiting in sync; it resumes draining when done.
                {
                    std::lock_guard lock(item.handoff->mutex);
                    item.handoff->granted = true;
                }
                item.handoff->ready.notify_one();
                return;
            }
            CurrentQueueScope scope(this);
            item.work();
        }
        scheduleDrain();
    }

    std::mutex m_mutex;
    std::deque<Item> m_items;
    bool m_draining = false;
};

class ConcurrentQueue final : public DispatchQueue {
public:
    explicit ConcurrentQueue(std::string label)
        : DispatchQueue(std::move(label))
    {
    }

    void async(DispatchWork work) override
    {
        ThreadPool::shared().post([this, self = shared_from_this(), work = std::move(work)] {
            CurrentQueueScope scope(this);
            work();
        });
    }

    void sync(const DispatchWork& work) override
    {
        CurrentQueueScope scope(this);
        work();
    }

    bool isCurrent() const override { return holdsQueue(this); }
    bool isSerial() const override { return false; }
};

} // namespace

void DispatchQueue::asyncAfter(std::chrono::nanoseconds delay, DispatchWork work)
{
    if (delay <= std::chrono::nanoseconds::zero()) {
        async(std::move(work));
        return;
    }
    auto now = std::chrono::steady_clock::now();
    auto deadline = delay > std::chrono::steady_clock::time_point::max() - now
        ? std::chrono::steady_clock::time_point::max()
        : now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay);
    DelayedWorkThread::shared().schedule(deadline, shared_from_this(), std::move(work));
}

void DispatchQueue::asyncAfterSeconds(double seconds, DispatchWork work)
{
    // Not-a-number and negative delays run as soon as possible; huge ones saturate.
    if (!(seconds > 0)) {
        async(std::move(work));
        return;
    }
    constexpr double maxSeconds = 1e9;
    auto delay = std::chrono::duration<double>(std::min(seconds, maxSeconds));
    asyncAfter(std::chrono::duration_cast<std::chrono::nanoseconds>(delay), std::move(work));
}

MainQueue& MainQueue::mainQueue()
{
    return static_cast<MainQueue&>(*DispatchQueue::main());
}

std::shared_ptr<DispatchQueue> DispatchQueue::main()
{
    static std::shared_ptr<DispatchQueue>* queue
        = new std::shared_ptr<DispatchQueue>(std::make_shared<MainQueue>());
    return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(QualityOfService)
{
    static std::shared_ptr<DispatchQueue>* queue
        = new std::shared_ptr<DispatchQueue>(std::make_shared<ConcurrentQueue>("global"));
    return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeSerial(std::string label)
{
    return std::make_shared<SerialQueue>(std::move(label));
}

std::shared_ptr<DispatchQueue> DispatchQueue::makeConcurrent(std::string label)
{
    return std::make_shared<ConcurrentQueue>(std::move(label));
}

bool runMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    // Wakes the wait now and then, so that the limit holds when nothing else arrives.
    QTimer tick;
    tick.start(20);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

unsigned sharedPoolSize()
{
    return ThreadPool::shared().size();
}

bool DispatchQueue::isMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

DispatchQueue* DispatchQueue::current()
{
    if (!t_currentQueues.empty())
        return const_cast<DispatchQueue*>(t_currentQueues.back());
    if (isMainThread())
        return main().get();
    return nullptr;
}

struct DispatchGroup::State {
    std::mutex mutex;
    std::condition_variable emptied;
    long count = 0;
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, DispatchWork>> notifications;
};

std::shared_ptr<DispatchGroup> DispatchGroup::make()
{
    auto group = std::shared_ptr<DispatchGroup>(new DispatchGroup);
    group->m_state = std::make_shared<State>();
    return group;
}

void DispatchGroup::enter()
{
    std::lock_guard lock(m_state->mutex);
    ++m_state->count;
}

void DispatchGroup::leave()
{
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, DispatchWork>> ready;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->count == 0)
            return; // An unbalanced leave is ignored rather than driving the count negative.
        if (--m_state->count > 0)
            return;
        ready.swap(m_state->notifications);
    }
    m_state->emptied.notify_all();
    for (auto& [queue, work] : ready)
        queue->async(std::move(work));
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, DispatchWork work)
{
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->count > 0) {
            m_state->notifications.emplace_back(queue, std::move(work));
            return;
        }
    }
    queue->async(std::move(work));
}

bool DispatchGroup::wait(std::chrono::nanoseconds timeout)
{
    std::unique_lock lock(m_state->mutex);
    if (m_state->count == 0)
        return true;
    lock.unlock();
    PoolWaitScope waiting;
    lock.lock();
    auto empty = [this] { return m_state->count == 0; };
    if (timeout == std::chrono::nanoseconds::max()) {
        m_state->emptied.wait(lock, empty);
        return true;
    }
    return m_state->emptied.wait_for(lock, timeout, empty);
}

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue, DispatchWork work)
{
    enter();
    queue->async([self = shared_from_this(), work = std::move(work)] {
        work();
        self->leave();
    });
}

} // namespace platform
