// Loads a 10 MB, 200,000-line document and lays out one screen with our text layer, and the same
// with QTextDocument and QPlainTextDocumentLayout, in one process; prints the time and memory
// ratios (ours / Qt's). Lines do not wrap on either side: the plain-text layout takes its wrapping
// width only from its own editor widget.

#include "platform/foundation/Print.h"
#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"
#include "platform/text/TextViewportLayoutController.h"

#include <QAbstractTextDocumentLayout>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <malloc.h>

#include <algorithm>
#include <memory>
#include <random>

using namespace platform;

namespace {

constexpr int lineCount = 200000;
constexpr double screenWidth = 800;
constexpr double screenHeight = 600;

QString makeDocument()
{
    static const char* const words[]
        = { "the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "Tindrel", "reference", "note",
              "caf\u00e9", "na\u00efve", "project", "layout", "\t", "1234", "lorem", "ipsum", "dolor" };
    std::mt19937 random(42);
    QString text;
    text.reserve(10'600'000);
    for (int line = 0; line < lineCount; ++line) {
        const int length = int(random() % 88) + 2;
        qsizetype start = text.size();
        while (text.size() - start < length) {
            text += QString::fromUtf8(words[random() % std::size(words)]);
            text += QLatin1Char(' ');
        }
        text += QLatin1Char('\n');
    }
    return text;
}

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

QFont benchFont()
{
    QFont font("DejaVu Sans");
    font.setPixelSize(13);
    return font;
}

class ScreenDelegate : public TextViewportLayoutControllerDelegate {
public:
    int configured = 0;
    QRectF viewportBounds(TextViewportLayoutController&) override
    {
        return QRectF(0, 0, screenWidth, screenHeight);
    }
    void configureRenderingSurface(
        TextViewportLayoutController&, const std::shared_ptr<TextLayoutFragment>&) override
    {
        ++configured;
    }
};

struct Ours {
    TextContentStorage storage;
    TextLayoutManager manager;
    ScreenDelegate delegate;
};

std::unique_ptr<Ours> loadOurs(const QString& text)
{
    auto ours = std::make_unique<Ours>();
    ours->manager.setDefaultFont(benchFont());
    ours->manager.setTextContentStorage(&ours->storage);
    ours->storage.setString(text);
    ours->manager.textViewportLayoutController().setDelegate(&ours->delegate);
    ours->manager.textViewportLayoutController().layoutViewport();
    return ours;
}

std::unique_ptr<QTextDocument> loadQt(const QString& text)
{
    auto document = std::make_unique<QTextDocument>();
    auto* layout = new QPlainTextDocumentLayout(document.get());
    document->setDocumentLayout(layout);
    document->setDefaultFont(benchFont());
    QTextOption option = document->defaultTextOption();
    option.setWrapMode(QTextOption::NoWrap);
    document->setDefaultTextOption(option);
    document->setPlainText(text);
    double y = 0;
    for (QTextBlock block = document->firstBlock(); block.isValid() && y < screenHeight; block = block.next())
        y += layout->blockBoundingRect(block).height();
    return document;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QString text = makeDocument();
    print(QStringLiteral("document: %1 lines, %2 MB as UTF-8")
              .arg(lineCount)
              .arg(text.toUtf8().size() / 1e6, 0, 'f', 1));

    double oursBest = 1e300;
    double qtBest = 1e300;
    size_t oursMemory = 0;
    size_t qtMemory = 0;
    for (int round = 0; round < 3; ++round) {
        {
            malloc_trim(0);
            const size_t before = heapInUse();
            QElapsedTimer timer;
            timer.start();
            auto document = loadQt(text);
            qtBest = std::min(qtBest, timer.nsecsElapsed() / 1e6);
            qtMemory = heapInUse() - before;
        }
        {
            malloc_trim(0);
            const size_t before = heapInUse();
            QElapsedTimer timer;
            timer.start();
            auto ours = loadOurs(text);
            oursBest = std::min(oursBest, timer.nsecsElapsed() / 1e6);
            oursMemory = heapInUse() - before;
            if (ours->delegate.configured == 0)
                return 1;
        }
    }
    print(QStringLiteral("load + lay out one screen: ours %1 ms, QTextDocument+QPlainTextDocumentLayout %2 "
                         "ms, time ratio %3 (target <= 1)")
              .arg(oursBest, 0, 'f', 1)
              .arg(qtBest, 0, 'f', 1)
              .arg(oursBest / qtBest, 0, 'f', 3));
    print(QStringLiteral("memory after load: ours %1 MB, QTextDocument %2 MB, memory ratio %3 (target <= 2)")
              .arg(oursMemory / 1e6, 0, 'f', 1)
              .arg(qtMemory / 1e6, 0, 'f', 1)
              .arg(double(oursMemory) / double(qtMemory), 0, 'f', 3));

    // Typing in the middle: 1,000 one-character inserts at line 100,000, each followed by laying
    // out the edited paragraph again.
    {
        auto ours = loadOurs(text);
        auto document = loadQt(text);
        const TextLocation at = ours->storage.paragraph(100000)->elementRange.location;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 1000; ++i) {
            ours->storage.replaceCharacters(TextRange(at + i), AttributedString("x"));
            ours->manager.ensureLayout(TextRange(at + i));
        }
        const double oursTyping = timer.nsecsElapsed() / 1e6;
        auto* layout = document->documentLayout();
        timer.restart();
        QTextCursor cursor(document.get());
        cursor.setPosition(int(at));
        for (int i = 0; i < 1000; ++i) {
            cursor.insertText("x");
            layout->blockBoundingRect(cursor.block());
        }
        const double qtTyping = timer.nsecsElapsed() / 1e6;
        print(QStringLiteral("1000 keystrokes at line 100000: ours %1 ms, QTextDocument %2 ms, time ratio %3")
                  .arg(oursTyping, 0, 'f', 2)
                  .arg(qtTyping, 0, 'f', 2)
                  .arg(oursTyping / qtTyping, 0, 'f', 3));
    }

    // One paragraph of 1 MB: laying it out is the cost of a keystroke in it, on both sides.
    {
        QString line;
        for (int i = 0; i < 200000; ++i)
            line += QStringLiteral("word ");
        QElapsedTimer timer;
        timer.start();
        auto ours = loadOurs(line);
        ours->storage.replaceCharacters(TextRange(500000), AttributedString("x"));
        ours->manager.ensureLayout(TextRange(500000));
        const double oursLine = timer.nsecsElapsed() / 1e6;
        timer.restart();
        auto document = loadQt(line);
        QTextCursor cursor(document.get());
        cursor.setPosition(500000);
        cursor.insertText("x");
        document->documentLayout()->blockBoundingRect(cursor.block());
        const double qtLine = timer.nsecsElapsed() / 1e6;
        print(QStringLiteral(
            "1 MB single line, load + one keystroke: ours %1 ms, QTextDocument %2 ms, time ratio %3")
                  .arg(oursLine, 0, 'f', 1)
                  .arg(qtLine, 0, 'f', 1)
                  .arg(oursLine / qtLine, 0, 'f', 3));
    }
    return 0;
}
