#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>
#include <utility>

namespace platform {

// Names one observable property of an object ("tdProjects", "name"). Keys are compared by text.
using ObservationKey = std::string_view;

// The observation record of one observable object. Its accessors call `access` on every read and
// wrap every write in `withMutation`; a `withObservationTracking` scope that read a property is then
// told once, before the first later write of it. Main thread only.
class ObservationRegistrar {
public:
    ObservationRegistrar();
    ~ObservationRegistrar();
    // A copy observes nothing of the original: it starts with no observers.
    ObservationRegistrar(const ObservationRegistrar&);
    ObservationRegistrar& operator=(const ObservationRegistrar&);

    // Records that the tracking scopes in progress on this thread read `key`.
    void access(ObservationKey key) const;

    // Tells the observers of `key`, then performs the write.
    template<typename Mutation> decltype(auto) withMutation(ObservationKey key, Mutation&& mutation) const
    {
        willSet(key);
        return std::forward<Mutation>(mutation)();
    }

    void willSet(ObservationKey key) const;

    // How many tracking scopes wait for a write of `key`; tests use it.
    std::size_t observerCount(ObservationKey key) const;

    struct State;

private:
    // Made on the first tracked read: most records are never observed, and a library holds
    // thousands of them.
    mutable std::shared_ptr<State> m_state;
};

struct ObservationTrackingState;

// One tracking scope's hold on what it read. A scope whose observer has gone (a screen rendered
// again, or destroyed) is cancelled, or every object it read keeps it until that object next
// changes: thousands of records read by each render would pile up scopes nobody waits for.
class ObservationTracking {
public:
    ObservationTracking() = default;
    explicit ObservationTracking(std::weak_ptr<ObservationTrackingState> state)
        : m_state(std::move(state))
    {
    }
    // Drops the scope from every object it read; its `onChange` will not be called.
    void cancel();
    bool isActive() const;

private:
    std::weak_ptr<ObservationTrackingState> m_state;
};

// Runs `apply`, noting every observable property it reads. The first later write to any of them
// calls `onChange` once, on the writing (main) thread, before the new value is stored: an observer
// that wants the new value re-reads it later (say, on the main queue), then tracks again.
ObservationTracking withObservationTracking(
    const std::function<void()>& apply, std::function<void()> onChange);

} // namespace platform
