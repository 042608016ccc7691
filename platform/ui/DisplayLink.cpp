#include "platform/ui/DisplayLink.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

constexpr double fallbackRefreshRate = 60;
constexpr std::int32_t nanosecondsPerSecond = 1'000'000'000;

} // namespace

RunLoop RunLoop::main()
{
    QCoreApplication* application = QCoreApplication::instance();
    return RunLoop(application ? application->thread() : nullptr);
}

RunLoop RunLoop::current()
{
    return RunLoop(QThread::currentThread());
}

void RunLoop::perform(std::function<void()> work) const
{
    if (!m_thread)
        return;
    QCoreApplication* application = QCoreApplication::instance();
    QObject* receiver = application && application->thread() == m_thread
        ? static_cast<QObject*>(application)
        : QAbstractEventDispatcher::instance(m_thread);
    if (receiver)
        QMetaObject::invokeMethod(receiver, std::move(work), Qt::QueuedConnection);
}

void removeRunLoopMode(std::vector<RunLoopMode>& modes, const RunLoopMode& mode)
{
    modes.erase(std::remove(modes.begin(), modes.end(), mode), modes.end());
}

DisplayLink::DisplayLink(std::shared_ptr<DisplayLinkTarget> target, QScreen* screen)
    : m_target(std::move(target))
    , m_screen(screen ? screen : QGuiApplication::primaryScreen())
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
}

DisplayLink::~DisplayLink()
{
    invalidate();
}

double DisplayLink::refreshRate() const
{
    const double rate = m_screen ? m_screen->refreshRate() : 0;
    return rate >= 1 && rate <= 1000 ? rate : fallbackRefreshRate;
}

void DisplayLink::setPaused(bool paused)
{
    if (m_invalidated)
        return;
    m_paused = paused;
    if (paused) {
        m_timer.stop();
    } else if (!m_timer.isActive()) {
        const auto period = std::chrono::nanoseconds(std::llround(1e9 / refreshRate()));
        m_nextRefresh = std::chrono::steady_clock::now() + period;
        scheduleNextTick();
    }
}

void DisplayLink::add(const RunLoop& runLoop, const RunLoopMode& mode)
{
    auto found = std::find_if(
        m_schedulers.begin(), m_schedulers.end(), [&](const auto& entry) { return entry.first == runLoop; });
    if (found == m_schedulers.end())
        m_schedulers.emplace_back(runLoop, std::vector<RunLoopMode> { mode });
    else
        found->second.push_back(mode);
}

void DisplayLink::remove(const RunLoop& runLoop, const RunLoopMode& mode)
{
    auto found = std::find_if(
        m_schedulers.begin(), m_schedulers.end(), [&](const auto& entry) { return entry.first == runLoop; });
    if (found == m_schedulers.end())
        return;
    removeRunLoopMode(found->second, mode);
    if (found->second.empty())
        m_schedulers.erase(found);
}

void DisplayLink::invalidate()
{
    m_schedulers.clear();
    m_paused = true;
    m_timer.stop();
    m_target.reset();
    m_invalidated = true;
}

void DisplayLink::tick()
{
    const auto period = std::chrono::nanoseconds(std::llround(1e9 / refreshRate()));
    const auto refresh = m_nextRefresh;
    // The next refresh keeps the phase of this one; refreshes already missed are skipped.
    const auto now = std::chrono::steady_clock::now();
    m_nextRefresh = refresh + period;
    if (m_nextRefresh <= now)
        m_nextRefresh += period * ((now - m_nextRefresh) / period + 1);
    scheduleNextTick();

    DisplayLinkTimeStamp stamp;
    stamp.hostTime = std::uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(refresh.time_since_epoch()).count());
    stamp.videoTimeScale = nanosecondsPerSecond;
    stamp.videoRefreshPeriod = period.count();
    handleOutput(stamp);
}

void DisplayLink::scheduleNextTick()
{
    const auto wait
        = std::chrono::ceil<std::chrono::milliseconds>(m_nextRefresh - std::chrono::steady_clock::now());
    m_timer.start(std::max(wait, std::chrono::milliseconds(0)));
}

void DisplayLink::handleOutput(const DisplayLinkTimeStamp& stamp)
{
    if (!m_target)
        return;
    if (stamp.videoTimeScale != 0)
        m_duration = double(stamp.videoRefreshPeriod) / double(stamp.videoTimeScale);
    if (m_timestamp != 0) {
        for (const auto& [runLoop, modes] : m_schedulers) {
            // Qt's loops have no modes: one call per run loop, whatever modes it holds.
            runLoop.perform([target = m_target] { target->onScreenUpdate(); });
        }
    }
    m_timestamp = double(stamp.hostTime) / 1e9;
}

} // namespace platform
