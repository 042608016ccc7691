#include "platform/foundation/ObservationRegistrar.h"

#include "platform/foundation/DispatchQueue.h"

#include <QCoreApplication>

#include <cassert>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

struct ObservationTrackingState {
    std::function<void()> onChange;
    bool done = false;
    std::vector<std::pair<std::weak_ptr<ObservationRegistrar::State>, std::string>> sources;
};

namespace {

using Tracking = ObservationTrackingState;

bool onObservationThread()
{
    return !QCoreApplication::instance() || DispatchQueue::isMainThread();
}

using AccessList = std::vector<std::pair<std::shared_ptr<ObservationRegistrar::State>, std::string>>;

// The tracking scopes running on this thread, innermost last; a read is recorded in all of them.
thread_local std::vector<AccessList*> t_scopes;

} // namespace

struct ObservationRegistrar::State {
    std::unordered_map<std::string, std::vector<std::shared_ptr<Tracking>>> observers;
};

namespace {

void cancel(const std::shared_ptr<Tracking>& tracking)
{
    tracking->done = true;
    for (auto& [weakState, key] : tracking->sources) {
        auto state = weakState.lock();
        if (!state)
            continue;
        auto it = state->observers.find(key);
        if (it == state->observers.end())
            continue;
        std::erase(it->second, tracking);
        if (it->second.empty())
            state->observers.erase(it);
    }
    tracking->sources.clear();
}

} // namespace

ObservationRegistrar::ObservationRegistrar() = default;

ObservationRegistrar::~ObservationRegistrar() = default;

ObservationRegistrar::ObservationRegistrar(const ObservationRegistrar&)
{
}

ObservationRegistrar& ObservationRegistrar::operator=(const ObservationRegistrar&)
{
    return *this;
}

void ObservationRegistrar::access(ObservationKey key) const
{
    if (t_scopes.empty())
        return;
    if (!m_state)
        m_state = std::make_shared<State>();
    for (AccessList* scope : t_scopes)
        scope->emplace_back(m_state, std::string(key));
}

void ObservationRegistrar::willSet(ObservationKey key) const
{
    if (!m_state || m_state->observers.empty())
        return;
    assert(onObservationThread());
    auto it = m_state->observers.find(std::string(key));
    if (it == m_state->observers.end())
        return;
    std::vector<std::shared_ptr<Tracking>> fired = std::move(it->second);
    m_state->observers.erase(it);
    for (const auto& tracking : fired) {
        if (tracking->done)
            continue;
        cancel(tracking);
        if (tracking->onChange) {
            auto onChange = std::move(tracking->onChange);
            onChange();
        }
    }
}

std::size_t ObservationRegistrar::observerCount(ObservationKey key) const
{
    if (!m_state)
        return 0;
    auto it = m_state->observers.find(std::string(key));
    return it == m_state->observers.end() ? 0 : it->second.size();
}

void ObservationTracking::cancel()
{
    if (auto tracking = m_state.lock()) {
        assert(onObservationThread());
        platform::cancel(tracking);
        tracking->onChange = nullptr;
    }
    m_state.reset();
}

bool ObservationTracking::isActive() const
{
    auto tracking = m_state.lock();
    return tracking && !tracking->done;
}

ObservationTracking withObservationTracking(
    const std::function<void()>& apply, std::function<void()> onChange)
{
    assert(onObservationThread());
    AccessList accessed;
    t_scopes.push_back(&accessed);
    struct PopScope {
        ~PopScope() { t_scopes.pop_back(); }
    } popScope;
    apply();

    if (accessed.empty())
        return {};
    auto tracking = std::make_shared<Tracking>();
    tracking->onChange = std::move(onChange);
    for (auto& [state, key] : accessed) {
        auto& list = state->observers[key];
        // A second read of the same property: this loop is the only one appending, so the scope
        // would be the list's last entry.
        if (!list.empty() && list.back() == tracking)
            continue;
        list.push_back(tracking);
        tracking->sources.emplace_back(state, key);
    }
    return ObservationTracking(tracking);
}

} // namespace platform
