#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/YankingManager.h"
#include "TextViewTestSupport.h"
#include "platform/text/UndoManager.h"

#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>

#include <functional>
#include <utility>

using namespace textviewtest;
using platform::CharacterRange;
using platform::TextRange;

TEST(EDTextViewEditing, TypingAndDeletingThroughKeys)
{
    ShownView view("one two three");
    view.setCaret(3);
    QTest::keyClicks(view.view.get(), " and");
    EXPECT_EQ(view->string(), "one and two three");
    QTest::keyClick(view.view.get(), Qt::Key_Backspace);
    EXPECT_EQ(view->string(), "one an two three");
    QTest::keyClick(view.view.get(), Qt::Key_Delete);
    EXPECT_EQ(view->string(), "one antwo three");
    QTest::keyClick(view.view.get(), Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "one two three");
    QTest::keyClick(view.view.get(), Qt::Key_Return);
    EXPECT_EQ(view->string(), "one \ntwo three");
    QTest::keyClick(view.view.get(), Qt::Key_Tab);
    EXPECT_EQ(view->string(), "one \n\ttwo three");
    EXPECT_TRUE(view->hasFocus());
    QTest::keyClick(view.view.get(), Qt::Key_Backspace);
    QTest::keyClick(view.view.get(), Qt::Key_End);
    QTest::keyClick(view.view.get(), Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "one \ntwo ");
    QTest::keyClick(view.view.get(), Qt::Key_Home);
    QTest::keyClick(view.view.get(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "one \n ");
    // With a selected range, a word deletion deletes exactly that range.
    view->setString("keep these words");
    view->setSelectedTextRange(TextRange(6, 9));
    QTest::keyClick(view.view.get(), Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "keep te words");
}

// End on a row that a line separator (Shift+Return) ends stops before the separator, as it stops
// before a paragraph's line end: what is typed then goes at the end of that row, not the next one's
// start. Shift+End selects up to it.
TEST(EDTextViewEditing, EndStopsBeforeALineSeparator)
{
    ShownView view(QStringLiteral("ab\u2028cd\u2028"));
    view.setCaret(0);
    QTest::keyClick(view.view.get(), Qt::Key_End);
    QTest::keyClicks(view.view.get(), "X");
    EXPECT_EQ(view->string(), QStringLiteral("abX\u2028cd\u2028"));
    view.setCaret(4);
    QTest::keyClick(view.view.get(), Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(4, 6) }));
}

TEST(EDTextViewEditing, ConsecutiveKillsGrowOneKillRingEntry)
{
    ShownView view("first line\nsecond line\nthird");
    view.setCaret(0);
    // The text of the line, then the line end alone, then the next line's text.
    QTest::keyClick(view.view.get(), Qt::Key_K, Qt::ControlModifier);
    QTest::keyClick(view.view.get(), Qt::Key_K, Qt::ControlModifier);
    QTest::keyClick(view.view.get(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "\nthird");
    EXPECT_EQ(YankingManager::shared().entries().front(), "first line\nsecond line");
    // A move in between starts a new entry.
    QTest::keyClick(view.view.get(), Qt::Key_Right);
    QTest::keyClick(view.view.get(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(YankingManager::shared().entries().front(), "third");
}

TEST(EDTextViewEditing, SeveralCaretsTypeAtEachAndMergeWhenTheyMeet)
{
    ShownView view("alpha\nbeta\ngamma");
    view.setCaret(2);
    // Shift+Control+click adds a caret and keeps the first.
    QTest::mouseClick(
        view->viewport(), Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, view.pointOf(8));
    ASSERT_EQ(view.ranges().size(), 2u);
    QTest::keyClicks(view.view.get(), "X");
    EXPECT_EQ(view->string(), "alXpha\nbeXta\ngamma");
    // Two carets on one line that both go to its start become one: the next key types once.
    QTest::mouseClick(
        view->viewport(), Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, view.pointOf(1));
    ASSERT_EQ(view.ranges().size(), 3u);
    QTest::keyClick(view.view.get(), Qt::Key_Home);
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(0), TextRange(7) }));
    QTest::keyClicks(view.view.get(), "-");
    EXPECT_EQ(view->string(), "-alXpha\n-beXta\ngamma");

    // A caret where another caret's selection ends, or begins: each types, and what they typed is
    // not left selected for the next key to replace. The carets keep their selections' order.
    for (const qint64 caret : { 6, 2 }) {
        view->setString("hello world");
        view->textLayoutManager().setTextSelections(
            { platform::TextSelection(TextRange(2, 6)), platform::TextSelection(TextRange(caret)) });
        QTest::keyClicks(view.view.get(), "XY");
        EXPECT_EQ(view->string(), "heXYXYworld") << "caret at " << caret;
        const std::vector<TextRange> carets = caret == 6 ? std::vector { TextRange(4), TextRange(6) }
                                                         : std::vector { TextRange(6), TextRange(4) };
        EXPECT_EQ(view.ranges(), carets) << "caret at " << caret;
    }
}

TEST(EDTextViewEditing, OverlappingRangesAreEditedOnce)
{
    ShownView view("hello world");
    view->replaceCharacters({ TextRange(0, 3), TextRange(0, 5), TextRange(8), TextRange(8) }, "x", false);
    EXPECT_EQ(view->string(), "x woxrld");
    // Two carets in one word: deleting a word backward deletes it once, and the kill ring has it once.
    view->setString("say hello there");
    view->textLayoutManager().setTextSelections(
        { platform::TextSelection(TextRange(7)), platform::TextSelection(TextRange(9)) });
    view->deleteWordBackward();
    EXPECT_EQ(view->string(), "say  there");
    EXPECT_EQ(YankingManager::shared().entries().front(), "hello");
}

// An edit that makes one character of two (what stood between a CR and a LF deleted, a CR typed
// before a LF, a surrogate pair joined) never leaves a caret between the halves: Backspace leaves it
// before the joined character, every other edit after it.
TEST(EDTextViewEditing, ACaretNeverRestsInsideACharacterAnEditJoins)
{
    const QString high(QChar(0xD83D));
    const QString low(QChar(0xDE00));
    struct Case {
        const char* name;
        QString text;
        std::vector<TextRange> selections;
        std::function<void(ShownView&)> edit;
        QString expected;
        std::vector<TextRange> carets;
    };
    const auto key = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        return [=](ShownView& view) { QTest::keyClick(view.view.get(), key, modifiers); };
    };
    const auto insert = [](const QString& text) {
        return [=](ShownView& view) { view->insertText(text, CharacterRange::notFound()); };
    };
    const Case cases[] = {
        { "Backspace", "a\rX\nb", { TextRange(3) }, key(Qt::Key_Backspace), "a\r\nb", { TextRange(1) } },
        { "Delete", "a\rX\nb", { TextRange(2) }, key(Qt::Key_Delete), "a\r\nb", { TextRange(3) } },
        { "cut", "a\rXY\nb", { TextRange(2, 4) }, key(Qt::Key_X, Qt::ControlModifier), "a\r\nb",
            { TextRange(3) } },
        { "CR typed before a LF", "a\nb", { TextRange(1) }, insert("\r"), "a\r\nb", { TextRange(3) } },
        { "Backspace at two carets", "a\rX\nb\rY\nc", { TextRange(3), TextRange(7) }, key(Qt::Key_Backspace),
            "a\r\nb\r\nc", { TextRange(1), TextRange(4) } },
        { "surrogates joined", "a" + high + "X" + low, { TextRange(3) }, key(Qt::Key_Backspace),
            "a" + high + low, { TextRange(1) } },
    };
    ShownView view;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        view->setString(test.text);
        std::vector<platform::TextSelection> selections;
        for (const TextRange& range : test.selections)
            selections.emplace_back(range);
        view->textLayoutManager().setTextSelections(std::move(selections));
        test.edit(view);
        EXPECT_EQ(view->string(), test.expected);
        EXPECT_EQ(view.ranges(), test.carets);
        // Done again, the edit joins the characters again.
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(view->string(), test.text);
        QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(view->string(), test.expected);
        for (const TextRange& range : view.ranges()) {
            const QString around = view->string().mid(range.location - 1, 2);
            EXPECT_FALSE(around == "\r\n" || around == high + low) << range.location;
        }
    }
}

// A delegate that sets a whole new text when it hears of the first of several carets' edits (or of
// the caret moving): the new text stands as set, with no key typed, deleted or word changed at the
// old carets' offsets in it, and no caret beyond its end.
TEST(EDTextViewEditing, ANewTextSetByTheDelegateDuringAnEditAtSeveralCaretsStands)
{
    struct Edit {
        const char* name;
        std::function<void(EDTextView&)> run;
    };
    const Edit edits[] = {
        { "typing", [](EDTextView& view) { QTest::keyClick(&view, Qt::Key_X); } },
        { "deleting", [](EDTextView& view) { QTest::keyClick(&view, Qt::Key_Backspace); } },
        { "upper case", [](EDTextView& view) { view.uppercaseWord(); } },
    };
    for (const bool onSelection : { false, true }) {
        for (const Edit& edit : edits) {
            SCOPED_TRACE(
                std::string(onSelection ? "on a selection change, " : "on a text change, ") + edit.name);
            ShownView view("hello world and more");
            view->textLayoutManager().setTextSelections({ platform::TextSelection(TextRange(2)),
                platform::TextSelection(TextRange(8)), platform::TextSelection(TextRange(14)) });
            const auto delegate = std::make_shared<NewTextSettingDelegate>();
            delegate->view = view.view.get();
            delegate->onSelection = onSelection;
            view->setDelegate(delegate);
            edit.run(*view);
            EXPECT_EQ(view->string(), "new text");
            for (const TextRange& range : view.ranges())
                EXPECT_LE(range.endLocation, view->string().size());
            view->undo();
            EXPECT_EQ(view->string(), "new text");
        }
    }
}

TEST(EDTextViewEditing, AnEditIsNotMadeWhenTheDelegateChangesTheTextWhileAskedAboutIt)
{
    for (const bool undoes : { false, true }) {
        for (const TextRange selected : { TextRange(14), TextRange(2, 12) }) {
            SCOPED_TRACE(undoes ? "undoing" : "setting a new text");
            ShownView view("one two three four five");
            view.setCaret(23);
            QTest::keyClicks(view.view.get(), " six");
            view->breakUndoCoalescing();
            const auto delegate = std::make_shared<MeddlingDelegate>();
            delegate->hook = MeddlingDelegate::Hook::shouldChange;
            delegate->act = [&, undoes] { undoes ? view->undo() : view->setString("new text"); };
            view->setDelegate(delegate);
            view->setSelectedTextRange(selected);
            QTest::keyClick(view.view.get(), Qt::Key_X);
            EXPECT_EQ(view->string(), undoes ? "one two three four five" : "new text");
        }
    }
}

// While an edit at several carets is announced, a new text cannot be had: the edit goes on at
// every caret, and undo keeps what it had. An edit the delegate makes once the first caret typed
// is followed by the others.
TEST(EDTextViewEditing, AnEditAtSeveralCaretsSurvivesWhatTheDelegateDoesMeanwhile)
{
    {
        ShownView view("one two");
        view.setCaret(3);
        QTest::keyClick(view.view.get(), Qt::Key_X);
        const auto delegate = std::make_shared<MeddlingDelegate>();
        delegate->hook = MeddlingDelegate::Hook::willChange;
        delegate->act = [&] { view->setString("new text"); };
        view->setDelegate(delegate);
        view->textLayoutManager().setTextSelections(
            { platform::TextSelection(TextRange(0)), platform::TextSelection(TextRange(8)) });
        QTest::keyClick(view.view.get(), Qt::Key_Y);
        EXPECT_EQ(view->string(), "yonex twoy");
        EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(1), TextRange(10) }));
        view->undo();
        EXPECT_EQ(view->string(), "onex two");
        view->undo();
        EXPECT_EQ(view->string(), "one two");
    }
    ShownView view("one two three\nfour five six");
    const auto delegate = std::make_shared<MeddlingDelegate>();
    delegate->act = [&] { view->replaceCharacters(TextRange(0, 4), QString()); };
    view->setDelegate(delegate);
    view->textLayoutManager().setTextSelections(
        { platform::TextSelection(TextRange(13)), platform::TextSelection(TextRange(27)) });
    QTest::keyClick(view.view.get(), Qt::Key_X);
    EXPECT_EQ(view->string(), "two threex\nfour five sixx");
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(10), TextRange(25) }));
}

// Every path by which a user could change the text leaves a read-only view alone; the host may
// still replace the text.
TEST(EDTextViewEditing, ReadOnlyViewRefusesEveryEditPath)
{
    ShownView view("fixed text");
    view.setCaret(5);
    QTest::keyClicks(view.view.get(), "abc");
    view->setIsEditable(false);
    const QString before = view->string();
    const std::pair<const char*, std::function<void()>> paths[] = {
        { "keys", [&] { QTest::keyClicks(view.view.get(), "zz"); } },
        { "backspace", [&] { QTest::keyClick(view.view.get(), Qt::Key_Backspace); } },
        { "delete command", [&] { view->doCommandBySelector("deleteWordBackward:"); } },
        { "insert command", [&] { view->insertNewline(); } },
        { "input method",
            [&] {
                QInputMethodEvent event;
                event.setCommitString("ime");
                QCoreApplication::sendEvent(view.view.get(), &event);
            } },
        { "marked text",
            [&] {
                view->setMarkedText("mk", { 0, 0 }, CharacterRange::notFound());
            } },
        { "find and replace",
            [&] {
                view->replaceCharacters(CharacterRange { 0, 5 }, "gone");
            } },
        { "undo", [&] { QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier); } },
    };
    for (const auto& [name, edit] : paths) {
        edit();
        EXPECT_EQ(view->string(), before) << name;
    }
    view->setString("loaded");
    EXPECT_EQ(view->string(), "loaded");
}

namespace {

struct Recorder : EDTextViewDelegate {
    std::vector<QString> events;
    bool allow = true;
    void textWillChange(const platform::Notification&) override
    {
        events.push_back("delegate: text will change");
    }
    void textDidChange(const platform::Notification&) override
    {
        events.push_back("delegate: text did change");
    }
    void textViewDidChangeSelection(const platform::Notification&) override
    {
        events.push_back("delegate: selection");
    }
    bool textViewShouldChangeText(EDTextView&, TextRange, const QString&) override
    {
        events.push_back("delegate: should change");
        return allow;
    }
    void textViewWillChangeText(EDTextView&, TextRange range, const QString& text) override
    {
        events.push_back(QStringLiteral("delegate: will change %1-%2 '%3'")
                             .arg(range.location)
                             .arg(range.endLocation)
                             .arg(text));
    }
    void textViewDidChangeText(EDTextView& view, TextRange, const QString&) override
    {
        events.push_back("delegate: did change, text '" + view.string() + "'");
    }
};

struct RecordingPlugin : EDPlugin {
    std::vector<QString>& events;
    QString name;
    std::optional<bool> answer;
    int setUps = 0;
    bool* tornDown = nullptr;
    RecordingPlugin(std::vector<QString>& events, QString name, std::optional<bool> answer = std::nullopt)
        : events(events)
        , name(std::move(name))
        , answer(answer)
    {
    }
    void setUp(EDPluginContext& context) override
    {
        ++setUps;
        context.events->onWillChangeText([this](TextRange) { events.push_back(name + ": will change"); })
            .onDidChangeText([this](TextRange, const QString&) { events.push_back(name + ": did change"); });
        if (answer) {
            context.events->shouldChangeText([this](TextRange, const QString&) {
                events.push_back(name + ": should change");
                return *answer;
            });
        }
    }
    void tearDown() override
    {
        if (tornDown)
            *tornDown = true;
    }
};

} // namespace

TEST(EDTextViewEditing, DelegateAndPluginsHearOfEveryChangeInOrder)
{
    ShownView view("ab");
    auto delegate = std::make_shared<Recorder>();
    view->setDelegate(delegate);
    view->addPlugin(std::make_shared<RecordingPlugin>(delegate->events, "plug-in"));
    // Plug-ins are set up when the view moves into a window.
    view.moveIntoNewWindow();
    auto notes = platform::NotificationCenter::defaultCenter().addObserver(QString(), view.view.get(),
        [&](const platform::Notification& note) { delegate->events.push_back(note.name); });
    view.setCaret(1);
    delegate->events.clear();
    view->insertText(QStringLiteral("X"), CharacterRange::notFound());
    const std::vector<QString> expected {
        "delegate: should change",
        EDTextView::textWillChangeNotification,
        "delegate: text will change",
        "delegate: will change 1-1 'X'",
        "plug-in: will change",
        EDTextView::didChangeSelectionNotification,
        "delegate: selection",
        "delegate: did change, text 'aXb'",
        "plug-in: did change",
        EDTextView::textDidChangeNotification,
        "delegate: text did change",
    };
    EXPECT_EQ(delegate->events, expected);
    platform::NotificationCenter::defaultCenter().removeObserver(notes);
}

TEST(EDTextViewEditing, FirstRefusalWinsAndLaterPluginsAreNotAsked)
{
    ShownView view("ab");
    std::vector<QString> events;
    auto delegate = std::make_shared<Recorder>();
    view->setDelegate(delegate);
    view->addPlugin(std::make_shared<RecordingPlugin>(events, "first", false));
    view->addPlugin(std::make_shared<RecordingPlugin>(events, "second", true));
    view.moveIntoNewWindow();
    EXPECT_FALSE(view->shouldChangeText(TextRange(0, 1), QString()));
    EXPECT_EQ(events, std::vector<QString> { "first: should change" });
    delegate->allow = false;
    events.clear();
    EXPECT_FALSE(view->shouldChangeText(TextRange(0, 1), QString()));
    EXPECT_TRUE(events.empty());
}

TEST(EDTextViewEditing, PluginsAreSetUpOnEveryMoveIntoAWindowAndTornDownAfterTheView)
{
    std::vector<QString> events;
    bool tornDown = false;
    auto plugin = std::make_shared<RecordingPlugin>(events, "plug-in");
    plugin->tornDown = &tornDown;
    {
        ShownView view("text");
        view->addPlugin(plugin);
        EXPECT_FALSE(view->plugins().front().events);
        view.moveIntoNewWindow();
        const auto firstEvents = view->plugins().front().events;
        view.moveIntoNewWindow();
        EXPECT_EQ(plugin->setUps, 2);
        EXPECT_NE(view->plugins().front().events, firstEvents);
    }
    EXPECT_FALSE(tornDown);
    EXPECT_TRUE(waitFor([&] { return tornDown; }));
}

TEST(EDTextViewEditing, APluginIsSetUpAgainWhenTheViewComesBackIntoItsWindow)
{
    std::vector<QString> events;
    auto plugin = std::make_shared<RecordingPlugin>(events, "plug-in");
    ShownView view("text");
    view->addPlugin(plugin);
    view.moveIntoNewWindow();
    QWidget* window = view->window();
    // Hiding and showing the window moves nothing.
    window->hide();
    window->show();
    view.settle();
    EXPECT_EQ(plugin->setUps, 1);
    view->setParent(nullptr);
    view->setParent(window);
    view->show();
    view.settle();
    EXPECT_EQ(plugin->setUps, 2);
    // Only the handlers of the new set-up hear of edits.
    view->replaceCharacters(TextRange(0), QStringLiteral("a"));
    EXPECT_EQ(events, (std::vector<QString> { "plug-in: will change", "plug-in: did change" }));
}

TEST(EDTextViewEditing, ContextMenuJoinsDelegateAndPluginMenus)
{
    ShownView view("some text");
    struct MenuPlugin : EDPlugin {
        int items;
        explicit MenuPlugin(int items)
            : items(items)
        {
        }
        void setUp(EDPluginContext& context) override
        {
            context.events->onContextMenu([this](platform::TextLocation, platform::TextContentStorage&) {
                auto menu = std::make_shared<QMenu>(QStringLiteral("Tools"));
                for (int i = 0; i < items; ++i)
                    menu->addAction(QStringLiteral("Item %1").arg(i));
                return menu;
            });
        }
    };
    view->addPlugin(std::make_shared<MenuPlugin>(1));
    view->addPlugin(std::make_shared<MenuPlugin>(3));
    view.moveIntoNewWindow();
    QContextMenuEvent event(
        QContextMenuEvent::Mouse, view.pointOf(2), view->viewport()->mapToGlobal(view.pointOf(2)));
    // Without a delegate there is no context menu.
    EXPECT_EQ(view->menuForEvent(&event), nullptr);
    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    QMenu* menu = view->menuForEvent(&event);
    ASSERT_NE(menu, nullptr);
    QStringList titles;
    for (QAction* action : menu->actions())
        titles << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(titles,
        (QStringList { "Cut", "Copy", "Paste", "Paste and Match Style", "-", "Select All", "-",
            "Spelling and Grammar", "Substitutions", "Speech", "-", "Item 0", "Tools", "-" }));
    EXPECT_EQ(menu->actions()[12]->menu()->actions().size(), 3);

    // A delegate that keeps a menu of its own and answers it every time shows the plug-ins' items
    // once, however often the menu opens.
    struct KeepingDelegate : EDTextViewDelegate {
        QMenu own;
        QMenu* textViewMenu(EDTextView&, QMenu*, QContextMenuEvent*, platform::TextLocation) override
        {
            return &own;
        }
    };
    const auto keeping = std::make_shared<KeepingDelegate>();
    keeping->own.addAction(QStringLiteral("Own"));
    view->setDelegate(keeping);
    for (int opening = 0; opening < 3; ++opening)
        ASSERT_EQ(view->menuForEvent(&event), &keeping->own);
    QStringList items;
    for (QAction* action : keeping->own.actions())
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(items, (QStringList { "Own", "-", "Item 0", "Tools", "-" }));
    view->setDelegate(nullptr);
}

// Shift+F10 opens the context menu at the caret, as the Menu key does, so that its commands (the
// spelling, substitution and speech menus among them) are reachable from a keyboard without one;
// a read-only view offers it too.
TEST(EDTextViewEditing, ShiftF10OpensTheContextMenuAtTheCaret)
{
    ShownView view("first line\nsecond line");
    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    for (bool editable : { true, false }) {
        view->setIsEditable(editable);
        view->setSelectedRange({ 14, 0 });
        QPoint shownAt;
        QStringList titles;
        QTimer::singleShot(0, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                shownAt = menu->pos();
                for (QAction* action : menu->actions())
                    titles << action->text();
                menu->close();
            }
        });
        QTest::keyClick(view.view.get(), Qt::Key_F10, Qt::ShiftModifier);
        QCoreApplication::processEvents();
        ASSERT_TRUE(titles.contains("Spelling and Grammar")) << "editable " << editable;
        const QPoint caret = view->viewport()->mapToGlobal(view.pointOf(14));
        EXPECT_LE(std::abs(shownAt.x() - caret.x()), 4);
        EXPECT_LE(std::abs(shownAt.y() - caret.y()), 2 * testFont().pixelSize());
        EXPECT_EQ(view->string(), "first line\nsecond line");
    }
}

// The keyboard's menu is for the text at the caret, also with the line numbers beside it, and opens
// over the text, at its nearest edge when the caret is scrolled out of sight.
TEST(EDTextViewEditing, TheKeyboardsMenuIsForTheCaretAndOpensOverTheText)
{
    struct MenuLocations : EDTextViewDelegate {
        std::vector<platform::TextLocation> locations;
        QMenu* textViewMenu(EDTextView&, QMenu* menu, QContextMenuEvent*, platform::TextLocation at) override
        {
            locations.push_back(at);
            return menu;
        }
    };
    ShownView view(QStringLiteral("first line\n") + QStringLiteral("line\n").repeated(300));
    view->setIsRulerVisible(true);
    const auto delegate = std::make_shared<MenuLocations>();
    view->setDelegate(delegate);
    auto openMenu = [&](const std::function<void()>& key) {
        QPoint shownAt(-1, -1);
        QTimer::singleShot(0, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                shownAt = menu->pos();
                menu->close();
            }
        });
        key();
        QCoreApplication::processEvents();
        return shownAt;
    };
    auto shiftF10 = [&] { QTest::keyClick(view.view.get(), Qt::Key_F10, Qt::ShiftModifier); };
    view.setCaret(3);
    view.settle();
    ASSERT_GT(view->viewport()->x(), 20);
    openMenu(shiftF10);
    openMenu([&] { // the Menu key, as the window system's keyboard menu reaches the focused widget
        const QPoint caret = view->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, caret, view->mapToGlobal(caret));
        QApplication::sendEvent(view.view.get(), &menuKey);
    });
    EXPECT_EQ(delegate->locations, (std::vector<platform::TextLocation> { 3, 3 }));

    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
    view.settle();
    const QPoint shownAt = openMenu(shiftF10);
    const QRect shown(view->viewport()->mapToGlobal(QPoint(0, 0)), view->viewport()->size());
    EXPECT_TRUE(shown.contains(shownAt)) << shownAt.x() << "," << shownAt.y();
}

// A host asking for the menu without an event (to show it from a button of its own) used to stop
// the program; it gets the menu of the selection's place.
TEST(EDTextViewEditing, AMenuAskedForWithoutAnEventIsTheSelectionsOne)
{
    ShownView view("some text");
    struct Recording : EDTextViewDelegate {
        std::optional<platform::TextLocation> location;
        bool hadEvent = true;
        QMenu* textViewMenu(
            EDTextView&, QMenu* proposed, QContextMenuEvent* event, platform::TextLocation at) override
        {
            location = at;
            hadEvent = event != nullptr;
            return proposed;
        }
    };
    const auto delegate = std::make_shared<Recording>();
    view->setDelegate(delegate);
    view->setSelectedRange({ 5, 4 });
    QMenu* menu = view->menuForEvent(nullptr);
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(delegate->location, 5);
    EXPECT_FALSE(delegate->hadEvent);
}
