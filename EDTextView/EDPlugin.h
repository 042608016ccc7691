#pragma once

#include "platform/text/TextRange.h"

#include <QPointer>
#include <QString>

#include <any>
#include <functional>
#include <memory>
#include <optional>

class EDTextView;
class QMenu;

namespace platform {
class TextContentStorage;
}

// The handlers a plug-in registers when it is set up. Each registration replaces the earlier one
// and answers the same object, so that a plug-in chains them in one expression.
class EDPluginEvents {
public:
    using WillChangeTextHandler = std::function<void(platform::TextRange)>;
    using DidChangeTextHandler = std::function<void(platform::TextRange, const QString&)>;
    using ShouldChangeTextHandler = std::function<bool(platform::TextRange, const QString&)>;
    // The menu is the plug-in's; the text view adds its items to the context menu and keeps the
    // plug-in's menu alive until the context menu closes.
    using ContextMenuHandler
        = std::function<std::shared_ptr<QMenu>(platform::TextLocation, platform::TextContentStorage&)>;
    using DidLayoutViewportHandler = std::function<void(std::optional<platform::TextRange>)>;

    WillChangeTextHandler willChangeTextHandler;
    DidChangeTextHandler didChangeTextHandler;
    ShouldChangeTextHandler shouldChangeTextHandler;
    ContextMenuHandler onContextMenuHandler;
    DidLayoutViewportHandler didLayoutViewportHandler;

    EDPluginEvents& onWillChangeText(WillChangeTextHandler handler);
    EDPluginEvents& onDidChangeText(DidChangeTextHandler handler);
    EDPluginEvents& shouldChangeText(ShouldChangeTextHandler handler);
    EDPluginEvents& onContextMenu(ContextMenuHandler handler);
    EDPluginEvents& onDidLayoutViewport(DidLayoutViewportHandler handler);
};

// What a plug-in gets to make its coordinator. The view may be gone by the time a plug-in looks at
// a pointer it kept, so the pointer is guarded.
struct EDPluginCoordinatorContext {
    QPointer<EDTextView> textView;
};

// What a plug-in gets when it is set up: its own coordinator, the view and the events to register
// its handlers on.
struct EDPluginContext {
    std::any coordinator;
    QPointer<EDTextView> textView;
    std::shared_ptr<EDPluginEvents> events;

    template<typename Coordinator> Coordinator* coordinatorAs()
    {
        return std::any_cast<Coordinator>(&coordinator);
    }
};

// A reusable extension of the text view: it hears of and may veto the view's edits, adds to its
// context menu and hears of every viewport layout. The view sets each plug-in up every time the
// view moves into a window, with a new coordinator and new events; `tearDown` runs after the view
// is destroyed, from the event loop.
class EDPlugin {
public:
    virtual ~EDPlugin() = default;
    virtual void setUp(EDPluginContext& context) = 0;
    virtual std::any makeCoordinator(const EDPluginCoordinatorContext&) { return {}; }
    virtual void tearDown() { }
};
