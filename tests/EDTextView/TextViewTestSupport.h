#pragma once

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"
#include "EDTextView/EDTextViewDelegate.h"
#include "platform/text/TextContentStorage.h"

#include <QApplication>
#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <utility>

inline void PrintTo(const QString& string, std::ostream* out)
{
    *out << '"' << string.toStdString() << '"';
}

inline void PrintTo(const QColor& color, std::ostream* out)
{
    *out << color.name(QColor::HexArgb).toStdString();
}

namespace textviewtest {

inline QFont testFont()
{
    QFont font("DejaVu Sans Mono");
    font.setPixelSize(14);
    return font;
}

// Runs the event loop until `condition` holds or a few seconds pass.
inline bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A light or a dark application palette for the life of the object, as the desktop sets when it
// switches between the two.
class ScopedPalette {
public:
    explicit ScopedPalette(bool dark)
        : m_saved(QApplication::palette())
    {
        QPalette palette;
        palette.setColor(QPalette::Window, dark ? QColor(0x32, 0x32, 0x32) : QColor(0xEC, 0xEC, 0xEC));
        palette.setColor(QPalette::Base, dark ? QColor(0x1E, 0x1E, 0x1E) : QColor(Qt::white));
        palette.setColor(QPalette::Text, dark ? QColor(Qt::white) : QColor(Qt::black));
        palette.setColor(QPalette::WindowText, dark ? QColor(Qt::white) : QColor(Qt::black));
        palette.setColor(QPalette::Highlight, dark ? QColor(0x0A, 0x84, 0xFF) : QColor(0x30, 0x8C, 0xC6));
        QApplication::setPalette(palette);
    }
    ~ScopedPalette() { QApplication::setPalette(m_saved); }
    ScopedPalette(const ScopedPalette&) = delete;
    ScopedPalette& operator=(const ScopedPalette&) = delete;

private:
    QPalette m_saved;
};

// A text view shown in a window of its own, focused, with a pinned font, laid out.
struct ShownView {
    std::unique_ptr<EDTextView> view = std::make_unique<EDTextView>();
    std::vector<std::unique_ptr<QWidget>> windows;

    explicit ShownView(const QString& text = QString(), QSize size = QSize(480, 320))
    {
        view->setFont(testFont());
        view->resize(size);
        view->show();
        view->activateWindow();
        view->setFocus();
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
        if (!text.isEmpty())
            view->setString(text);
        settle();
    }
    ~ShownView()
    {
        // The view is owned here, not by a window it was moved into.
        view->setParent(nullptr);
        windows.clear();
    }
    ShownView(const ShownView&) = delete;
    ShownView& operator=(const ShownView&) = delete;

    // Moves the view into a new window, shown, active and focused (the view is set up again).
    void moveIntoNewWindow()
    {
        auto window = std::make_unique<QWidget>();
        const QSize size = view->size();
        window->resize(size);
        view->setParent(window.get());
        view->setGeometry(QRect(QPoint(0, 0), size));
        view->show();
        window->show();
        window->activateWindow();
        view->setFocus();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        windows.push_back(std::move(window));
        settle();
    }

    EDTextView& operator*() const { return *view; }
    EDTextView* operator->() const { return view.get(); }

    // Lets posted layout and paint run.
    void settle() const
    {
        QCoreApplication::processEvents();
        view->layoutIfNeeded();
    }
    void setCaret(platform::TextLocation at) const { view->setSelectedTextRange(platform::TextRange(at)); }
    // A viewport point for a location in the text (the middle of its caret's line).
    QPoint pointOf(platform::TextLocation at) const
    {
        settle();
        QRectF caret;
        view->textLayoutManager().enumerateTextSegments(platform::TextRange(at),
            platform::TextLayoutManager::SegmentType::standard, 0,
            [&](std::optional<platform::TextRange>, QRectF frame, double) {
                caret = frame;
                return false;
            });
        return view->viewToViewport(caret.center()).toPoint();
    }
    std::vector<platform::TextRange> ranges() const
    {
        std::vector<platform::TextRange> result;
        for (const auto& selection : view->textLayoutManager().textSelections())
            result.insert(result.end(), selection.textRanges.begin(), selection.textRanges.end());
        return result;
    }
};

// A delegate that sets a whole new text, once, when it first hears of a change of the text, or of
// the selection with `onSelection`: what an edit under way must not then carry into the new text.
struct NewTextSettingDelegate : EDTextViewDelegate {
    EDTextView* view = nullptr;
    QString text = QStringLiteral("new text");
    bool onSelection = false;
    bool replaced = false;
    void textDidChange(const platform::Notification&) override
    {
        if (!onSelection)
            replace();
    }
    void textViewDidChangeSelection(const platform::Notification&) override
    {
        if (onSelection)
            replace();
    }
    void replace()
    {
        if (!std::exchange(replaced, true))
            view->setString(text);
    }
};

// A delegate that runs `act` once, at the `call`th call of one of its hooks: what a host may do in
// the middle of an edit (set a new text, edit, undo), which the edit under way must survive.
struct MeddlingDelegate : EDTextViewDelegate {
    enum class Hook { shouldChange, willChange, didChange, selection };
    Hook hook = Hook::didChange;
    int call = 1;
    std::function<void()> act;
    int calls = 0;
    void run(Hook at)
    {
        if (at == hook && act && ++calls == call)
            std::exchange(act, nullptr)();
    }
    bool textViewShouldChangeText(EDTextView&, platform::TextRange, const QString&) override
    {
        run(Hook::shouldChange);
        return true;
    }
    void textViewWillChangeText(EDTextView&, platform::TextRange, const QString&) override
    {
        run(Hook::willChange);
    }
    void textViewDidChangeText(EDTextView&, platform::TextRange, const QString&) override
    {
        run(Hook::didChange);
    }
    void textViewDidChangeSelection(const platform::Notification&) override { run(Hook::selection); }
};

// Lays `view`'s text out again under the line-height multiple `multiple`.
inline void setLineHeightMultiple(EDTextView& view, double multiple)
{
    platform::ParagraphStyle style;
    style.lineHeightMultiple = multiple;
    view.setDefaultParagraphStyle(style);
    view.setString(view.string());
}

// The first row of `shot` holding ink (pixels darker than mid-grey) and the row past the last, or
// -1 and -1 when there is none.
inline std::pair<int, int> inkRows(const QImage& shot)
{
    int top = -1, bottom = -1;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor pixel = shot.pixelColor(x, y);
            if (std::max({ pixel.red(), pixel.green(), pixel.blue() }) < 128) {
                top = top < 0 ? y : top;
                bottom = y + 1;
                break;
            }
        }
    }
    return { top, bottom };
}

} // namespace textviewtest
