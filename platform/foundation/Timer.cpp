#include "platform/foundation/Timer.h"

#include "platform/foundation/DispatchQueue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <mutex>
#include <utility>

namespace platform {

// Shared between the handle and the QTimer's slot, so a firing never touches a destroyed handle.
// The QTimer itself is created, started and deleted on the main thread only.
struct Timer::State {
    mutable std::mutex mutex;
    bool valid = true;
    Block block;
    QTimer* timer = nullptr;
};

namespace {

int intervalMilliseconds(double seconds)
{
    if (!(seconds >= 0.001))
        return 1;
    constexpr double maxMilliseconds = 2'000'000'000.0;
    return static_cast<int>(std::min(std::round(seconds * 1000.0), maxMilliseconds));
}

} // namespace

std::shared_ptr<Timer> Timer::scheduledRepeating(double intervalSeconds, Block block)
{
    auto state = std::make_shared<State>();
    state->block = std::move(block);
    std::shared_ptr<Timer> timer(new Timer(intervalSeconds, state));
    int milliseconds = intervalMilliseconds(intervalSeconds);
    auto start = [state, milliseconds] {
        std::lock_guard lock(state->mutex);
        if (!state->valid)
            return;
        auto* qtimer = new QTimer;
        qtimer->setInterval(milliseconds);
        QObject::connect(qtimer, &QTimer::timeout, [weakState = std::weak_ptr<State>(state)] {
            std::shared_ptr<State> strong = weakState.lock();
            if (!strong)
                return;
            Block block;
            {
                std::lock_guard lock(strong->mutex);
                if (!strong->valid)
                    return;
                block = strong->block;
            }
            if (block)
                block();
        });
        qtimer->start();
        state->timer = qtimer;
    };
    if (DispatchQueue::isMainThread())
        start();
    else
        DispatchQueue::main()->async(std::move(start));
    return timer;
}

Timer::Timer(double intervalSeconds, std::shared_ptr<State> state)
    : m_intervalSeconds(intervalSeconds)
    , m_state(std::move(state))
{
}

Timer::~Timer()
{
    invalidate();
}

void Timer::invalidate()
{
    QTimer* qtimer = nullptr;
    Block block;
    {
        std::lock_guard lock(m_state->mutex);
        if (!m_state->valid)
            return;
        m_state->valid = false;
        qtimer = std::exchange(m_state->timer, nullptr);
        // What the callback holds is released here, not whenever the main thread gets to it.
        block = std::move(m_state->block);
    }
    // Deferred: the timer may be invalidated from inside its own firing, and deleteLater is the one
    // way to delete a QObject that is safe from any thread. A firing in between sees `valid` false.
    if (!qtimer)
        return;
    // While the application object is torn down it holds the lock that posting an event takes, and
    // destroys the closures still queued for the main thread; a timer released by one of them then
    // is deleted at once, on its own thread, instead of posting its deletion into a deadlock.
    if (QCoreApplication::closingDown() && QThread::currentThread() == qtimer->thread())
        delete qtimer;
    else
        qtimer->deleteLater();
}

bool Timer::isValid() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->valid;
}

} // namespace platform
