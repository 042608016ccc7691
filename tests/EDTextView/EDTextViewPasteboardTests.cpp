#include "EDTextView/TextLayoutRangeView.h"
#include "TextViewTestSupport.h"
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"
#include "platform/ui/Pasteboard.h"

#include <QClipboard>
#include <QDrag>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>

#include <utility>

using namespace textviewtest;
using platform::AttributedString;
using platform::Pasteboard;
using platform::TextRange;
using platform::TextSelection;

namespace AttributeKey = platform::AttributeKey;

namespace {

QByteArray rtfCorpusFile(const QString& name)
{
    QFile file(QStringLiteral(TINDREL_SOURCE_DIR "/fuzz/corpus/rtf/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

// Puts data on the clipboard as another program would.
void offer(const QByteArray& rtf, const QString& text = QString())
{
    auto* data = new QMimeData;
    if (!rtf.isEmpty())
        data->setData(QStringLiteral("text/rtf"), rtf);
    if (!text.isNull())
        data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data);
}

void select(ShownView& view, std::vector<TextRange> ranges)
{
    std::vector<TextSelection> selections;
    for (const TextRange& range : ranges)
        selections.emplace_back(range);
    view->textLayoutManager().setTextSelections(std::move(selections));
}

// A drag from outside the program entering `target` at `at`, offering to copy or move `data`;
// whether the target took it.
bool enterDrag(QWidget* target, QPointF at, QMimeData& data)
{
    QDragEnterEvent enter(
        at.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    return enter.isAccepted();
}

struct Refusing : EDTextViewDelegate {
    bool textViewShouldChangeText(EDTextView&, TextRange, const QString&) override { return false; }
};

} // namespace

TEST(EDTextViewPasteboard, CopyCutAndPasteThroughKeysKeepTextAndFormatting)
{
    ShownView view("alpha beta gamma");
    QFont bold = testFont();
    bold.setBold(true);
    view->addAttributes({ { AttributeKey::font, bold } }, TextRange(0, 5), true);
    // Two selected ranges are copied joined by a line break, as plain text and as RTF.
    select(view, { TextRange(11, 16), TextRange(0, 5) });
    QTest::keyClick(view.view.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "alpha\ngamma");
    const auto rtf = Pasteboard::general().data(Pasteboard::rtfType);
    ASSERT_TRUE(rtf);
    const AttributedString fromRtf = platform::RtfReader::read(*rtf).value();
    EXPECT_EQ(fromRtf.string(), "alpha\ngamma");
    EXPECT_TRUE(fromRtf.attribute(AttributeKey::font, 0).value<QFont>().bold());

    // Pasted into another view, the RTF keeps the bold word bold.
    ShownView other("[]");
    other.setCaret(1);
    QTest::keyClick(other.view.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(other->string(), "[alpha\ngamma]");
    EXPECT_TRUE(other->textContentStorage().attributes(1).value(AttributeKey::font).value<QFont>().bold());
    EXPECT_FALSE(other->textContentStorage().attributes(8).value(AttributeKey::font).value<QFont>().bold());

    // Cut takes the text out; the clipboard has it.
    view->setSelectedTextRange(TextRange(6, 11));
    QTest::keyClick(view.view.get(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "alpha gamma");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "beta ");

    // Plain text pastes at every caret, in the typing attributes there.
    offer({}, "X");
    view->setString("ab\ncd\nef");
    select(view, { TextRange(1), TextRange(4), TextRange(7) });
    QTest::keyClick(view.view.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(view->string(), "aXb\ncXd\neXf");

    // RTF over two selected ranges replaces the later one first, so both land where they were.
    offer(platform::RtfWriter::write(AttributedString("long text")));
    view->setString("one two three");
    select(view, { TextRange(0, 3), TextRange(8, 13) });
    view->paste();
    EXPECT_EQ(view->string(), "long text two long text");

    // Nothing selected to copy: the clipboard stays as it was.
    view.setCaret(2);
    view->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "");
    EXPECT_TRUE(Pasteboard::general().canReadItemWithDataConformingToTypes({ Pasteboard::rtfType }));
}

// Copy works anywhere; what would change the text is refused by a read-only view and by a
// refusing delegate alike, and a refused cut leaves the clipboard as it was.
TEST(EDTextViewPasteboard, CutPasteAndDeleteRespectReadOnlyAndTheDelegate)
{
    ShownView view("keep this text");
    const auto refusing = std::make_shared<Refusing>();
    for (const bool readOnly : { true, false }) {
        view->setIsEditable(!readOnly);
        view->setDelegate(readOnly ? nullptr : refusing);
        view->setSelectedTextRange(TextRange(5, 9));
        offer({}, "clip");
        QTest::keyClick(view.view.get(), Qt::Key_X, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "clip") << readOnly;
        QTest::keyClick(view.view.get(), Qt::Key_V, Qt::ControlModifier);
        view->delete_();
        view->pasteAsRichText();
        EXPECT_EQ(view->string(), "keep this text") << readOnly;
        QTest::keyClick(view.view.get(), Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "this") << readOnly;
    }
    view->setDelegate(nullptr);
    // `delete:` over several ranges removes each where it was when the command began.
    select(view, { TextRange(0, 5), TextRange(10, 14) });
    view->delete_();
    EXPECT_EQ(view->string(), "this ");
}

// RTF as word processors write it pastes as its text: pictures, objects, fields' instructions and
// unknown groups are left out, and nothing they name is opened. Broken RTF pastes what it holds.
TEST(EDTextViewPasteboard, ForeignRtfPastesAsItsTextOnly)
{
    ShownView view;
    offer(rtfCorpusFile("word-processor.rtf"), "plain fallback");
    QTest::keyClick(view.view.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(view->string().startsWith("Project notes\nPlain, bold, italic"))
        << view->string().toStdString();
    EXPECT_TRUE(view->string().contains("Cell one\tCell two\n"));
    EXPECT_TRUE(view->string().endsWith("Last line\nsecond half"));
    for (const char* hidden : { "HYPERLINK", "http", "objdata", "pict", "\\" })
        EXPECT_FALSE(view->string().contains(QLatin1String(hidden))) << hidden;

    const int depth = 200'000;
    const std::pair<QByteArray, QString> broken[] = {
        { rtfCorpusFile("truncated-font-table.rtf"), QString() },
        { "{\\rtf1 one}}}}} two", "one" },
        { "{\\rtf1 " + QByteArray(depth, '{') + "deep" + QByteArray(depth, '}') + "}", "deep" },
        { "{\\rtf1 cut short{\\b bold", "cut shortbold" },
    };
    for (const auto& [rtf, expected] : broken) {
        view->setString(QString());
        offer(rtf, "plain");
        view->paste();
        if (!expected.isNull()) {
            EXPECT_EQ(view->string(), expected);
        }
    }
    // RTF that is not RTF at all pastes the plain text offered with it.
    view->setString(QString());
    offer("not rtf", "plain");
    view->paste();
    EXPECT_EQ(view->string(), "plain");
}

// The marker of where a drag would drop stands level with the glyphs, as the caret does, under
// any line-height multiple: not the whole of a taller row.
TEST(EDTextViewPasteboard, TheDropMarkerIsAsTallAsTheGlyphs)
{
    for (const double multiple : { 1.0, 2.0, 3.0 }) {
        SCOPED_TRACE(multiple);
        ShownView view(QStringLiteral("Hg Hg"));
        setLineHeightMultiple(*view, multiple);
        view->setInsertionPointColor(Qt::red);
        view.setCaret(0);
        view.settle();
        QMimeData data;
        data.setText("NEW ");
        const QPointF at = view.pointOf(4);
        enterDrag(view->viewport(), at, data);
        ASSERT_EQ(view->dropLocation(), 4);
        view.settle();
        const QImage shot = view->viewport()->grab().toImage();
        const auto [inkTop, inkBottom] = inkRows(shot);
        int markTop = -1, markBottom = -1; // the red marker's rows, beside the point
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = std::max(int(at.x()) - 3, 0); x <= int(at.x()) + 3 && x < shot.width(); ++x) {
                const QColor pixel = shot.pixelColor(x, y);
                if (pixel.red() > 200 && pixel.green() < 80 && pixel.blue() < 80) {
                    markTop = markTop < 0 ? y : markTop;
                    markBottom = y + 1;
                }
            }
        }
        ASSERT_GE(inkTop, 0);
        ASSERT_GE(markTop, 0);
        EXPECT_LE(markTop, inkTop + 1);
        EXPECT_GE(markBottom, inkBottom - 1);
        EXPECT_LE(markBottom - markTop, (inkBottom - inkTop) * 3 / 2);
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(view->viewport(), &leave);
    }
}

TEST(EDTextViewPasteboard, DropsInsertAtThePointAndReadOnlyViewsRefuseThem)
{
    ShownView view("one two");
    QMimeData data;
    data.setText("NEW ");
    const QPointF at = view.pointOf(4);
    EXPECT_TRUE(enterDrag(view->viewport(), at, data));
    EXPECT_EQ(view->dropLocation(), 4);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    // From outside this program the text is copied, and the dropped text is selected.
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    EXPECT_EQ(view->string(), "one NEW two");
    EXPECT_EQ(view.ranges(), (std::vector<TextRange> { TextRange(4, 8) }));
    EXPECT_FALSE(view->dropLocation());

    view->setIsEditable(false);
    QDragEnterEvent refused(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

// Files dragged from a file manager come as a URI list alone: each address lands on a line of its
// own, and the list's comment lines stay out of the note. A list of comments and broken addresses
// only is refused; text offered beside the list is what lands.
TEST(EDTextViewPasteboard, DroppedOrPastedFilesGiveTheirAddressesWithoutTheListsComments)
{
    struct Case {
        QByteArray list;
        QString text;
        QString expected;
    };
    const std::vector<Case> cases {
        { "# from a file manager\r\nfile:///tmp/a%20b.png\r\nfile:///tmp/c.png\r\n", QString(),
            "one file:///tmp/a b.png\nfile:///tmp/c.png\ntwo" },
        { "#only\n# comments\nhttp://[::1\n", QString(), "one two" },
        { "https://example.com/cat.jpg\n", "a cat", "one a cattwo" },
    };
    for (const Case& c : cases) {
        ShownView view("one two");
        QMimeData data;
        data.setData("text/uri-list", c.list);
        if (!c.text.isNull())
            data.setText(c.text);
        const QPointF at = view.pointOf(4);
        enterDrag(view->viewport(), at, data);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &drop);
        EXPECT_EQ(drop.isAccepted(), c.expected != "one two") << c.list.toStdString();
        EXPECT_EQ(view->string(), c.expected) << c.list.toStdString();

        // Copied in a file manager and pasted, the same list gives the same text.
        view->setString("one two");
        view->setSelectedRange({ 4, 0 });
        auto* copied = new QMimeData;
        copied->setData("text/uri-list", c.list);
        if (!c.text.isNull())
            copied->setText(c.text);
        QGuiApplication::clipboard()->setMimeData(copied);
        view->paste();
        EXPECT_EQ(view->string(), c.expected) << "pasted " << c.list.toStdString();
    }
}

// A drag held near the top or bottom edge scrolls the view, also while the pointer rests, and
// the text lands where it is let go of; leaving the view stops the scrolling.
TEST(EDTextViewPasteboard, ADragHeldNearAnEdgeScrollsTheViewAndDropsWhereItIsLetGo)
{
    QStringList lines;
    for (int line = 0; line < 200; ++line)
        lines << QStringLiteral("line %1").arg(line);
    ShownView view(lines.join('\n'));
    QScrollBar* bar = view->verticalScrollBar();
    ASSERT_EQ(bar->value(), 0);
    QMimeData data;
    data.setText("NEW");
    const QPointF nearBottom(40, view->viewport()->height() - 2);
    ASSERT_TRUE(enterDrag(view->viewport(), nearBottom, data));
    ASSERT_TRUE(waitFor([&] { return bar->value() > 3 * view->typingLineHeight(); }));
    QDropEvent drop(nearBottom, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    const std::optional<platform::TextLocation> under = view->dropLocation();
    QCoreApplication::sendEvent(view->viewport(), &drop);
    ASSERT_TRUE(drop.isAccepted() && under);
    EXPECT_GT(*under, 20);
    EXPECT_EQ(view->string().mid(*under, 3), "NEW");

    // Back near the top, it scrolls up; once the drag leaves, no more.
    QDragEnterEvent again(QPoint(40, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &again);
    const int from = bar->value();
    ASSERT_TRUE(waitFor([&] { return bar->value() < from; }));
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(view->viewport(), &leave);
    const int left = bar->value();
    QSignalSpy moved(bar, &QScrollBar::valueChanged);
    EXPECT_FALSE(moved.wait(300));
    EXPECT_EQ(bar->value(), left);
}

// The picture a drag shows holds the dragged text and is clear beside it.
TEST(EDTextViewPasteboard, DragImageShowsTheRangeOnly)
{
    ShownView view("first line\nsecond line");
    const auto image = view->dragImage(TextRange(6, 17));
    ASSERT_TRUE(image);
    const auto& [picture, frame] = *image;
    // Two rows: the end of the first and the start of the second.
    EXPECT_GT(frame.height(), 1.5 * testFont().pixelSize());
    EXPECT_LT(frame.height(), 3 * QFontMetricsF(testFont()).lineSpacing());
    auto inked = [&, &picture = picture](QRect area) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (picture.pixelColor(x, y).alpha() > 0)
                    return true;
        return false;
    };
    const double caretAtSix = view.pointOf(6).x() - view.pointOf(0).x();
    const int rowHeight = int(picture.height() / 2);
    // "line" of the first row is drawn; "first " before it is not.
    EXPECT_TRUE(inked(QRect(int(caretAtSix - frame.left()) + 2, 0, 20, rowHeight)));
    EXPECT_FALSE(inked(QRect(0, 0, int(caretAtSix - frame.left()) - 2, rowHeight)));
    EXPECT_FALSE(view->dragImage(TextRange(3)));
}

// Dragging a whole long note lays out only the start its picture shows; laying out all of it held
// the drag up for seconds.
TEST(EDTextViewPasteboard, DragImageOfALongTextLaysOutOnlyItsStart)
{
    QString text;
    for (int line = 0; line < 20000; ++line)
        text += QStringLiteral("line %1 of a long note\n").arg(line);
    ShownView view(text);
    const int laidOut = view->textLayoutManager().cachedFragmentCount();
    const auto image = view->dragImage(TextRange(0, text.size()));
    ASSERT_TRUE(image);
    EXPECT_LE(image->second.height(), TextLayoutRangeView::maximumHeight + 40);
    EXPECT_LT(view->textLayoutManager().cachedFragmentCount() - laidOut, 100);
}

namespace {

// The desktop's drag loop, played by hand: the drag hovers over a view and drops there.
struct DraggingView : EDTextView {
    QWidget* dropTarget = nullptr;
    QPoint dropPoint;
    // What happens elsewhere while the pointer travels.
    std::function<void()> whileDragging;
    Qt::DropAction executeDrag(QDrag& drag) override
    {
        if (whileDragging)
            whileDragging();
        QDragEnterEvent enter(
            dropPoint, Qt::CopyAction | Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
        QCoreApplication::sendEvent(dropTarget, &enter);
        QDropEvent drop(dropPoint, Qt::CopyAction | Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
        QCoreApplication::sendEvent(dropTarget, &drop);
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    }
};

} // namespace

// A press inside the selection and a move begin a drag (a press and release there only places the
// caret); dropped within its view the text moves, onto another view of this program it moves
// there, and a view that may not be edited only gives a copy.
TEST(EDTextViewPasteboard, DraggingTheSelectionMovesItWithinAndBetweenViews)
{
    ShownView target("into: ");
    auto* source = new DraggingView;
    ShownView sourceHolder;
    sourceHolder.view.reset(source);
    source->setFont(testFont());
    source->resize(480, 200);
    source->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(source));
    source->setString("drag me here");
    sourceHolder.settle();

    auto drag = [&](QPoint press, QWidget* to, QPoint at) {
        source->dropTarget = to;
        source->dropPoint = at;
        QTest::mousePress(source->viewport(), Qt::LeftButton, Qt::NoModifier, press);
        QTest::mouseMove(source->viewport(), press + QPoint(30, 0));
        QTest::mouseRelease(source->viewport(), Qt::LeftButton, Qt::NoModifier, press + QPoint(30, 0));
        sourceHolder.settle();
    };
    source->setSelectedTextRange(TextRange(0, 5));
    sourceHolder.settle();
    drag(sourceHolder.pointOf(2), source->viewport(), sourceHolder.pointOf(12));
    EXPECT_EQ(source->string(), "me heredrag ");
    EXPECT_EQ(sourceHolder.ranges(), (std::vector<TextRange> { TextRange(7, 12) }));

    drag(sourceHolder.pointOf(9), target->viewport(), target.pointOf(6));
    EXPECT_EQ(target->string(), "into: drag ");
    EXPECT_EQ(source->string(), "me here");

    source->setIsEditable(false);
    source->setSelectedTextRange(TextRange(0, 2));
    sourceHolder.settle();
    drag(sourceHolder.pointOf(1), target->viewport(), target.pointOf(0));
    EXPECT_EQ(target->string(), "meinto: drag ");
    EXPECT_EQ(source->string(), "me here");

    // Text whose lines end in CR LF or CR (a file from elsewhere) is pasted and moved as it was,
    // although the RTF beside it knows one line end only.
    source->setIsEditable(true);
    source->setString("one\r\ntwo\rthree ");
    source->selectAll();
    source->copy();
    target->setString("");
    target->paste();
    EXPECT_EQ(target->string(), "one\r\ntwo\rthree ");
    source->setSelectedTextRange(TextRange(0, 9));
    sourceHolder.settle();
    drag(sourceHolder.pointOf(6), source->viewport(), sourceHolder.pointOf(15));
    EXPECT_EQ(source->string(), "three one\r\ntwo\r");

    // Typing just before is an undo step of its own, not part of the move.
    source->setString("move me");
    sourceHolder.setCaret(7);
    QTest::keyClicks(source, " typed");
    QCoreApplication::processEvents();
    source->setSelectedTextRange(TextRange(0, 5));
    sourceHolder.settle();
    drag(sourceHolder.pointOf(2), source->viewport(), sourceHolder.pointOf(13));
    EXPECT_EQ(source->string(), "me typedmove ");
    source->undo();
    EXPECT_EQ(source->string(), "move me typed");

    // A click in the selection is a click.
    source->setSelectedTextRange(TextRange(3, 7));
    sourceHolder.settle();
    QTest::mouseClick(source->viewport(), Qt::LeftButton, Qt::NoModifier, sourceHolder.pointOf(5));
    EXPECT_EQ(sourceHolder.ranges(), (std::vector<TextRange> { TextRange(5) }));

    // A delegate that sets a new text when it hears of the dropped text: the new text stands, the
    // dragged range is not taken out of it.
    auto replacing = std::make_shared<NewTextSettingDelegate>();
    replacing->view = source;
    source->setString("move me");
    source->setDelegate(replacing);
    source->setSelectedTextRange(TextRange(0, 5));
    sourceHolder.settle();
    // Pressed away from the last click, so that it is no double click.
    drag(sourceHolder.pointOf(1), source->viewport(), sourceHolder.pointOf(7));
    EXPECT_EQ(source->string(), "new text");
    source->setDelegate(nullptr);

    // The text changed while the drag ran, so the dragged range holds other text: the drop copies
    // instead of taking that text out, onto another view and within the view alike.
    source->whileDragging
        = [source] { source->replaceCharacters(TextRange(0), AttributedString("new "), false); };
    target->setString("");
    for (const platform::TextLocation press : { 3, 0 }) {
        source->setString("drag me here");
        source->setSelectedTextRange(TextRange(0, 5));
        sourceHolder.settle();
        QWidget* to = press ? target->viewport() : source->viewport();
        drag(sourceHolder.pointOf(press), to, press ? target.pointOf(0) : sourceHolder.pointOf(12));
        EXPECT_EQ(source->string(), press ? "new drag me here" : "new drag me drag here");
    }
    EXPECT_EQ(target->string(), "drag ");
}

// Where the desktop has a primary selection (X11), selected text is offered there and a middle
// click pastes it where it clicks.
TEST(EDTextViewPasteboard, SelectedTextIsThePrimarySelectionAndAMiddleClickPastesIt)
{
    if (!QGuiApplication::clipboard()->supportsSelection())
        GTEST_SKIP() << "this desktop has no primary selection";
    ShownView view("pick this word");
    view->setSelectedTextRange(TextRange(5, 9));
    ASSERT_TRUE(waitFor([] { return QGuiApplication::clipboard()->text(QClipboard::Selection) == "this"; }));
    QTest::mouseClick(view->viewport(), Qt::MiddleButton, Qt::NoModifier, view.pointOf(14));
    EXPECT_EQ(view->string(), "pick this wordthis");
    view->setIsEditable(false);
    QTest::mouseClick(view->viewport(), Qt::MiddleButton, Qt::NoModifier, view.pointOf(0));
    EXPECT_EQ(view->string(), "pick this wordthis");
}

// The primary selection holds the text that was selected: typed over, deleted, or with its view
// gone, the text offered stays what the user selected. Two selected ranges are offered joined by a
// line feed.
TEST(EDTextViewPasteboard, ThePrimarySelectionKeepsTheSelectedTextThroughEditsAndTheViewsEnd)
{
    if (!QGuiApplication::clipboard()->supportsSelection())
        GTEST_SKIP() << "this desktop has no primary selection";
    const auto primary = [] { return QGuiApplication::clipboard()->text(QClipboard::Selection); };
    auto view = std::make_unique<ShownView>(QStringLiteral("p\u00EFck this word"));
    (*view)->setSelectedTextRange(TextRange(5, 9));
    ASSERT_TRUE(waitFor([&] { return primary() == "this"; }));
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData(QClipboard::Selection)->data("text/plain"), "this")
        << "other programs read it as bytes";
    (*view)->insertText(QStringLiteral("that"), platform::CharacterRange::notFound());
    view->settle();
    EXPECT_EQ((*view)->string(), QStringLiteral("p\u00EFck that word"));
    EXPECT_EQ(primary(), "this");

    (*view)->textLayoutManager().setTextSelections(
        { TextSelection(TextRange(10, 14)), TextSelection(TextRange(0, 4)) });
    ASSERT_TRUE(waitFor([&] { return primary() == QStringLiteral("p\u00EFck\nword"); }));
    (*view)->delete_();
    view->settle();
    EXPECT_EQ((*view)->string(), " that ");
    EXPECT_EQ(primary(), QStringLiteral("p\u00EFck\nword"));

    (*view)->setSelectedTextRange(TextRange(1, 5));
    ASSERT_TRUE(waitFor([&] { return primary() == "that"; }));
    view.reset();
    EXPECT_EQ(primary(), "that");
}

// Text from another program may carry characters no key types: NULs, a terminal's escape
// sequences, a delete, halves of surrogate pairs. They are left out of a paste or a drop (a lone
// half becomes U+FFFD, as a save would make it); tabs and line ends stay, and so does the
// formatting of what is kept.
TEST(EDTextViewPasteboard, PastesAndDropsLeaveOutCharactersNoKeyTypes)
{
    const QChar nul(0);
    ShownView view("[]");
    view.setCaret(1);
    offer({}, QStringLiteral("a") + nul + QStringLiteral("b\x1b[1mc\td\r\ne\x7f"));
    view->paste();
    EXPECT_EQ(view->string(), "[ab[1mc\td\r\ne]");

    QFont bold = testFont();
    bold.setBold(true);
    AttributedString rich(QStringLiteral("x") + nul + QStringLiteral("y"), { { AttributeKey::font, bold } });
    rich.append(AttributedString(QStringLiteral("z") + QChar(0xD800)));
    offer(platform::RtfWriter::write(rich));
    view->setString("[]");
    view.setCaret(1);
    view->paste();
    EXPECT_EQ(view->string(), QStringLiteral("[xyz") + QChar(QChar::ReplacementCharacter) + "]");
    EXPECT_TRUE(view->textContentStorage().attributes(2).value(AttributeKey::font).value<QFont>().bold());

    // Nothing left to paste: the selection stays.
    offer({}, QString(3, nul));
    view->setString("keep me");
    view->setSelectedTextRange(TextRange(0, 4));
    view->paste();
    EXPECT_EQ(view->string(), "keep me");

    QMimeData dropped;
    dropped.setText(QStringLiteral("in") + nul + "to ");
    EXPECT_TRUE(enterDrag(view->viewport(), view.pointOf(0), dropped));
    QDropEvent drop(view.pointOf(0), Qt::CopyAction, &dropped, Qt::LeftButton, {});
    QCoreApplication::sendEvent(view->viewport(), &drop);
    EXPECT_EQ(view->string(), "into keep me");
}

namespace {

// What a clipboard shows when the program that offered it has quit: the types are listed, but
// their data never comes.
struct OwnerGone : QMimeData {
    QStringList offered;
    QStringList formats() const override { return offered; }
    bool hasFormat(const QString& type) const override { return offered.contains(type); }
    QVariant retrieveData(const QString&, QMetaType) const override { return {}; }
};

} // namespace

// An offer that yields no text (its owner gone, or rich text holding only a picture) leaves the
// selection as it was, through every paste command; rich text with no text in it, or that cannot
// be read, gives way to the plain text beside it.
TEST(EDTextViewPasteboard, AnOfferThatYieldsNoTextLeavesTheSelection)
{
    const QByteArray pictureOnly = "{\\rtf1{\\pict\\pngblip 89504e470d0a1a0a}}";
    const std::pair<const char*, void (EDTextView::*)(QObject*)> commands[]
        = { { "paste", &EDTextView::paste }, { "as rich text", &EDTextView::pasteAsRichText },
              { "as plain text", &EDTextView::pasteAsPlainText } };
    const struct {
        const char* offer;
        std::function<void()> put;
        const char* expected;
    } cases[] = {
        { "plain text, owner gone",
            [] {
                auto* gone = new OwnerGone;
                gone->offered = { "text/plain" };
                QGuiApplication::clipboard()->setMimeData(gone);
            },
            "keep me" },
        { "rich and plain text, owner gone",
            [] {
                auto* gone = new OwnerGone;
                gone->offered = { "text/rtf", "text/plain" };
                QGuiApplication::clipboard()->setMimeData(gone);
            },
            "keep me" },
        { "a picture alone", [&] { offer(pictureOnly); }, "keep me" },
        { "a picture and its name", [&] { offer(pictureOnly, "photo.png"); }, "photo.png me" },
        { "rich text that is not", [] { offer("{\\rt", "plain"); }, "plain me" },
    };
    ShownView view;
    for (const auto& each : cases) {
        for (const auto& [name, run] : commands) {
            each.put();
            view->setString("keep me");
            view->setSelectedTextRange(TextRange(0, 4));
            ((*view).*run)(nullptr);
            EXPECT_EQ(view->string(), each.expected) << each.offer << ", " << name;
        }
    }
}
