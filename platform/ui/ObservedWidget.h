#pragma once

#include "platform/foundation/ObservationRegistrar.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <unordered_map>

namespace platform {

// The base of every screen: a widget that builds its content from observed state.
//
// Rendering
//   `render()` runs inside an observation scope (withObservationTracking). When anything it read
//   changes, one re-render is posted to the main queue: any number of writes before that render
//   runs cost one render, and a write to a value the last render did not read costs none.
//   `renderNow()` renders at once; `setNeedsRender()` asks for a coalesced render later. Each render
//   replaces the last one's scope, and a destroyed widget leaves no scope behind.
//   A widget that was never rendered renders itself when it is first shown.
//   Renders never nest: a render asked for while another widget is rendering (a child built or
//   updated inside its parent's render) runs right after that render returns, in its own scope, so
//   a parent never depends on what its children read, and the other way round.
//
// Updating in place
//   A render updates the children it made earlier; it does not delete and rebuild them. Use the
//   helpers in ObservedWidgetUpdates.h (setTextIfChanged, syncCombo, KeyedChildren) so a label is
//   written only when its text differs, a line edit being typed in keeps its text and cursor, and a
//   list of children is reconciled by key. Whatever a child owns (a pushed page, an open dialog,
//   typed text, its own state objects) survives its parent's re-render because the child does.
//
// Appearing and disappearing
//   `appeared()` is called when the widget becomes visible in a visible window (itself shown, or an
//   ancestor shown, or its page brought to the front of a stack); `disappeared()` when it stops
//   being visible. Calls alternate, starting with `appeared()`. Destroying a visible widget does
//   not call `disappeared()` (the subclass is gone by then); a subclass that must clean up does so
//   in its own destructor, checking `hasAppeared()`.
//
// State kept by identity
//   `stateObject<T>(key, make)` returns the object made for `key` by an earlier render, or makes
//   it. An object a render asked for and the next render did not is released after that render:
//   its identity has left the screen. Objects asked for outside a render are kept until the widget
//   is destroyed or `releaseState(key)` is called.
//
// Main thread only.
class ObservedWidget : public QWidget {
public:
    explicit ObservedWidget(QWidget* parent = nullptr);
    ~ObservedWidget() override;

    // Renders now, tracking what is read (deferred to the end of the current render if another
    // widget is rendering).
    void renderNow();

    // Asks for one render on the main queue; several calls before it runs make one render.
    void setNeedsRender();

    bool hasRendered() const { return m_renderCount > 0; }
    // How many renders have run; tests use it to check coalescing.
    std::uint64_t renderCount() const { return m_renderCount; }
    bool isRenderPending() const { return m_renderPending; }

    bool hasAppeared() const { return m_appeared; }

    template<typename T>
    std::shared_ptr<T> stateObject(const std::string& key, const std::function<std::shared_ptr<T>()>& make)
    {
        auto found = m_states.find(key);
        if (found != m_states.end() && found->second.type == std::type_index(typeid(T))) {
            found->second.lastRender = currentStateGeneration();
            return std::static_pointer_cast<T>(found->second.object);
        }
        auto object = make();
        m_states.insert_or_assign(
            key, StateEntry { object, std::type_index(typeid(T)), currentStateGeneration() });
        return object;
    }
    template<typename T> std::shared_ptr<T> stateObject(const std::string& key)
    {
        return stateObject<T>(key, [] { return std::make_shared<T>(); });
    }
    void releaseState(const std::string& key) { m_states.erase(key); }
    bool hasState(const std::string& key) const { return m_states.count(key) != 0; }

protected:
    // Builds or updates the content. Called on the main thread, never re-entrantly.
    virtual void render() = 0;

    virtual void appeared() { }
    virtual void disappeared() { }

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct StateEntry {
        std::shared_ptr<void> object;
        std::type_index type;
        // The render that last asked for it; 0 for objects asked for outside a render.
        std::uint64_t lastRender;
    };

    void runRender();
    void updateAppearance();
    std::uint64_t currentStateGeneration() const { return m_inRender ? m_renderCount : 0; }
    void releaseStatesNotAskedFor();

    std::unordered_map<std::string, StateEntry> m_states;
    // The scope of the last render, until a change fires it or the next render replaces it.
    ObservationTracking m_tracking;
    std::uint64_t m_renderCount = 0;
    bool m_renderPending = false;
    bool m_inRender = false;
    bool m_appeared = false;
    bool m_deferred = false;
};

} // namespace platform
