// A long editing session in a 10 MB note: words typed at one place after another, each an undo step
// of its own (the caret moves between them). The time of 1,000 such steps in a view whose undo
// steps have reached their bound (the oldest going at every new one) is compared with the same
// steps in a view with no steps yet, in the same process, alternately; a session must not slow
// down as its undo history grows. Also printed: what the steps keep, against the bound.
//
//   bench_undo [steps before the measure, default 200000]

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextView.h"
#include "bench/support/Compare.h"
#include "bench/support/Document.h"
#include "platform/foundation/Print.h"
#include "platform/text/UndoManager.h"

#include <QApplication>
#include <QKeyEvent>

#include <memory>
#include <vector>

using platform::print;

namespace {

// Small, so that the bound is reached in seconds; a real session reaches the default one later.
constexpr qint64 boundBytes = qint64(16) << 20;
constexpr int measuredSteps = 1000;

void typeKey(QWidget* widget, Qt::Key key, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
}

// One step: a word typed at a place further on, the caret then moved there, which ends the run.
void step(EDTextView& view, qint64& at)
{
    at = (at + 7919) % view.textContentStorage().length();
    view.setSelectedTextRange(platform::TextRange(at));
    for (const char c : { 'w', 'o', 'r', 'd' })
        typeKey(&view, Qt::Key(Qt::Key_A + (c - 'a')), QString(QLatin1Char(c)));
}

std::unique_ptr<EDTextView> makeView(const QString& document)
{
    auto view = std::make_unique<EDTextView>();
    view->resize(800, 600);
    view->show();
    view->setString(document);
    view->undoManager()->setMaximumUndoBytes(boundBytes);
    QCoreApplication::processEvents();
    return view;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int sessionSteps = argc >= 2 ? std::max(1, QByteArray(argv[1]).toInt()) : 200000;
    const QString document = bench::makeDocument(200000);

    auto longSession = makeView(document);
    auto fresh = makeView(document);
    qint64 longAt = 0;
    qint64 freshAt = 0;
    for (int i = 0; i < sessionSteps; ++i) {
        step(*longSession, longAt);
        if (i % 256 == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();

    bench::compare(
        QStringLiteral("1,000 undo steps typed in a 10 MB note, after %1 steps (at the bound) against none")
            .arg(sessionSteps)
            .toStdString(),
        [&] {
            for (int i = 0; i < measuredSteps; ++i)
                step(*longSession, longAt);
            QCoreApplication::processEvents();
        },
        [&] {
            fresh->undoManager()->removeAllActions();
            for (int i = 0; i < measuredSteps; ++i)
                step(*fresh, freshAt);
            QCoreApplication::processEvents();
        },
        5);
    print(QStringLiteral("the long session's steps keep %1 KiB against a bound of %2 KiB")
              .arg(longSession->undoManager()->undoBytes() / 1024)
              .arg(boundBytes / 1024));
    return 0;
}
