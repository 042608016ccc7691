#include "EDTextView/YankingManager.h"
#include "TextViewTestSupport.h"
#include "platform/text/UndoManager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <optional>
#include <random>
#include <set>

using namespace textviewtest;
using platform::TextRange;
using platform::TextSelection;

namespace {

// Pieces a writer's text is made of: combining marks, emoji sequences, flags, right-to-left runs,
// CR LF and other line ends, and empty lines.
const QStringList pieces = {
    QStringLiteral("word "),
    QStringLiteral("cafe\u0301 "),
    QStringLiteral("\U0001F44D\U0001F3FD"),
    QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"),
    QStringLiteral("\U0001F1EB\U0001F1F7"),
    QStringLiteral("\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD"),
    QStringLiteral("\r\n"),
    QStringLiteral("\n"),
    QStringLiteral("\n\n"),
    QStringLiteral("\u2029"),
    QStringLiteral("\r"),
    QStringLiteral("\u2028"),
    QStringLiteral("x y"),
    QStringLiteral("\t"),
    QStringLiteral("stra\u00DFe "),
    QStringLiteral("\uFB01ne "),
    QStringLiteral("long words that wrap in a narrow view "),
};

bool isRegionalIndicatorAt(const QString& text, qsizetype at)
{
    if (at < 0 || at + 1 >= text.size() || !text[at].isHighSurrogate())
        return false;
    const char32_t c = QChar::surrogateToUcs4(text[at], text[at + 1]);
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

// Where whole characters begin and end. Qt's boundaries pair flag letters wrongly after some
// sequences, so inside a run of flag letters every second letter starts a flag.
std::vector<qsizetype> graphemeBoundaries(const QString& text)
{
    std::vector<qsizetype> result { 0 };
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at != -1; at = finder.toNextBoundary())
        result.push_back(at);
    std::erase_if(result,
        [&](qsizetype at) { return isRegionalIndicatorAt(text, at - 2) && isRegionalIndicatorAt(text, at); });
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (!isRegionalIndicatorAt(text, at) || isRegionalIndicatorAt(text, at - 2))
            continue;
        for (qsizetype letter = at; isRegionalIndicatorAt(text, letter); letter += 2) {
            if ((letter - at) % 4 == 0)
                result.push_back(letter);
        }
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    if (result.back() != text.size())
        result.push_back(text.size());
    return result;
}

void preedit(EDTextView& view, const QString& text)
{
    QInputMethodEvent event(text, { { QInputMethodEvent::Cursor, int(text.size()), 1, QVariant() } });
    QCoreApplication::sendEvent(&view, &event);
}

void commit(EDTextView& view, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(&view, &event);
}

using DeleteAction = YankingManager::DeleteAction;

struct Key {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* name;
    std::optional<DeleteAction> kill = std::nullopt;
};

const Key keys[] = {
    { Qt::Key_Backspace, Qt::NoModifier, "Backspace", DeleteAction::delete_ },
    { Qt::Key_Delete, Qt::NoModifier, "Delete", DeleteAction::delete_ },
    { Qt::Key_Backspace, Qt::ControlModifier, "Ctrl+Backspace", DeleteAction::deleteWordBackward },
    { Qt::Key_Delete, Qt::ControlModifier, "Ctrl+Delete", DeleteAction::deleteWordForward },
    { Qt::Key_Backspace, Qt::ControlModifier | Qt::ShiftModifier, "Ctrl+Shift+Backspace",
        DeleteAction::deleteToBeginningOfLine },
    { Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier, "Ctrl+Shift+Delete",
        DeleteAction::deleteToEndOfLine },
    { Qt::Key_K, Qt::ControlModifier, "Ctrl+K", DeleteAction::deleteToEndOfParagraph },
    { Qt::Key_Y, Qt::ControlModifier, "Ctrl+Y" },
    { Qt::Key_Return, Qt::NoModifier, "Return" },
    { Qt::Key_Tab, Qt::NoModifier, "Tab" },
    { Qt::Key_U, Qt::AltModifier, "Alt+U" },
    { Qt::Key_L, Qt::AltModifier, "Alt+L" },
    { Qt::Key_C, Qt::AltModifier, "Alt+C" },
    { Qt::Key_X, Qt::ControlModifier, "Ctrl+X" },
    { Qt::Key_C, Qt::ControlModifier, "Ctrl+C" },
    { Qt::Key_V, Qt::ControlModifier, "Ctrl+V" },
    { Qt::Key_V, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier, "Ctrl+Alt+Shift+V" },
    { Qt::Key_Z, Qt::ControlModifier, "Ctrl+Z" },
    { Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, "Ctrl+Shift+Z" },
};

// Commands as a host or a menu sends them: also while an input method composes.
const char* const commands[] = {
    "deleteToBeginningOfParagraph:",
    "insertParagraphSeparator:",
    "insertLineBreak:",
    "delete:",
    "cut:",
    "paste:",
    "yank:",
    "capitalizeWord:",
    "deleteWordForward:",
};

// What the kill ring should hold, as far as the test can tell.
struct KillRingModel {
    std::optional<DeleteAction> run;
    std::optional<QString> entry;

    void kill(DeleteAction action, const std::optional<QString>& removed)
    {
        if (run != action)
            entry = QString();
        run = action;
        if (!entry || !removed) {
            entry.reset();
            return;
        }
        switch (action) {
        case DeleteAction::deleteWordBackward:
        case DeleteAction::deleteToBeginningOfLine:
        case DeleteAction::deleteToBeginningOfParagraph:
            entry = *removed + *entry;
            break;
        case DeleteAction::delete_:
            entry = removed;
            break;
        default:
            entry = *entry + *removed;
        }
    }
};

} // namespace

// Random runs of every editing command over text of every kind, at one or several carets or
// selections. No command may leave half a character, and undoing every step, one at a time, gives
// back each text the user saw, down to the first; redoing them gives the last again.
TEST(EDTextViewEditingSequence, RandomCommandsNeverSplitACharacterAndUndoGivesEveryTextBack)
{
    ShownView view;
    for (unsigned seed = 1; seed <= 80; ++seed) {
        // Every other run narrow enough that lines wrap, so that line kills meet rows that end
        // inside a paragraph.
        view->resize(seed % 2 ? 480 : 120, 320);
        std::mt19937 random(seed);
        const auto pick = [&](size_t count) { return size_t(random() % count); };
        QString initial;
        for (int i = 0, n = 3 + int(pick(6)); i < n; ++i)
            initial += pieces[qsizetype(pick(size_t(pieces.size())))];
        view->setString(initial);
        view.settle();
        const auto formatted = [&] {
            return view->textContentStorage().attributedString(TextRange(0, view->string().size()));
        };
        const platform::AttributedString initialFormatted = formatted();
        std::set<QString> seen { initial };
        KillRingModel killRing;
        std::vector<std::string> done;
        for (int step = 0; step < 25; ++step) {
            const QString text = view->string();
            const std::vector<qsizetype> bounds = graphemeBoundaries(text);
            // Often the selection the last command left, so that runs of kills and typing form.
            if (step == 0 || pick(3) == 0) {
                std::vector<TextSelection> selections;
                for (int i = 0, n = 1 + int(pick(3)); i < n; ++i) {
                    const qsizetype a = bounds[pick(bounds.size())];
                    const qsizetype b = pick(3) == 0 ? bounds[pick(bounds.size())] : a;
                    selections.emplace_back(TextRange(std::min(a, b), std::max(a, b)));
                }
                view->textLayoutManager().setTextSelections(std::move(selections));
                killRing.run.reset();
            }
            const std::vector<TextRange> before = view.ranges();
            // Provisional text goes at the next key or commit: what the command acts on is unknown.
            const bool composing = view->hasMarkedText();
            std::string name;
            std::optional<DeleteAction> kill;
            std::optional<QString> typed;
            switch (pick(5)) {
            case 4:
                // An input method composes, and the command comes before the commit.
                preedit(*view, QStringLiteral("\u306B"));
                name = "compose";
                break;
            case 0: {
                typed = pick(2) ? QStringLiteral("a") : pieces[qsizetype(pick(size_t(pieces.size())))];
                commit(*view, *typed);
                name = "type " + typed->toStdString();
                break;
            }
            case 1: {
                const char* command = commands[pick(std::size(commands))];
                view->doCommandBySelector(QString::fromLatin1(command));
                name = command;
                if (name == "deleteToBeginningOfParagraph:")
                    kill = DeleteAction::deleteToBeginningOfParagraph;
                else if (name == "deleteWordForward:")
                    kill = DeleteAction::deleteWordForward;
                break;
            }
            default: {
                const Key& key = keys[pick(std::size(keys))];
                QTest::keyClick(view.view.get(), key.key, key.modifiers);
                name = key.name;
                kill = key.kill;
                if (name == "Ctrl+Y")
                    typed = killRing.entry;
                break;
            }
            }
            // Each command is an event of its own, as a user's are.
            QCoreApplication::processEvents();
            if (pick(3) == 0)
                view.settle();
            done.push_back(name);
            const QString after = view->string();
            SCOPED_TRACE("seed " + std::to_string(seed) + " after " + name);
            ASSERT_TRUE(QStringView(after).isValidUtf16()) << after.toStdString();
            // Text put in or taken out may join what was on either side of it (a letter and a
            // mark), so only a selection that moved over text that stayed is checked for carets
            // inside a character; none ever stands between the halves of a surrogate pair or of a
            // CR LF, even one the command joined.
            const std::vector<qsizetype> afterBounds = graphemeBoundaries(after);
            for (const TextRange& range : view.ranges()) {
                ASSERT_GE(range.location, 0);
                ASSERT_LE(range.endLocation, after.size());
                for (const qsizetype at : { range.location, range.endLocation }) {
                    EXPECT_FALSE(at > 0 && at < after.size() && after[at].isLowSurrogate()) << at;
                    EXPECT_FALSE(at > 0 && at < after.size() && after[at - 1] == u'\r' && after[at] == u'\n')
                        << at << " in " << after.toStdString();
                    if (after == text && view.ranges() != before) {
                        EXPECT_TRUE(std::binary_search(afterBounds.begin(), afterBounds.end(), at))
                            << at << " in " << after.toStdString();
                    }
                }
            }
            seen.insert(after);
            // Undo takes provisional text away first: the text without it was seen too.
            if (view->hasMarkedText())
                seen.insert(QString(after).remove(view->markedRange().location, view->markedRange().length));

            // A single caret or range: typing and yanking put their text in its place.
            const std::vector<TextRange> now = view.ranges();
            const bool single = before.size() == 1 && !composing;
            if (typed && single && (name != "Ctrl+Y" || before.front().isEmpty())) {
                QString expected = text;
                expected.replace(before.front().location, before.front().length(), *typed);
                EXPECT_EQ(after, expected);
            }
            // A kill removes one stretch when made at one place; the caret stands where it was.
            if (kill && after != text) {
                std::optional<QString> killed;
                if (single && now.size() == 1) {
                    // What a kill at one place takes out is whole characters, from where the selection
                    // was. The caret stands where the stretch was, or beside the CR LF it joined.
                    const qsizetype removed = text.size() - after.size();
                    qsizetype start = now.front().location;
                    for (const qsizetype candidate : { start, start + 1, start - 1 }) {
                        if (candidate >= 0 && text.left(candidate) + text.mid(candidate + removed) == after) {
                            start = candidate;
                            break;
                        }
                    }
                    const qsizetype end = start + removed;
                    for (const qsizetype at : { start, end }) {
                        EXPECT_TRUE(std::binary_search(bounds.begin(), bounds.end(), at)
                            || at == before.front().location || at == before.front().endLocation)
                            << at;
                    }
                    killed = text.mid(start, end - start);
                }
                killRing.kill(*kill, killed);
                if (killRing.entry) {
                    EXPECT_EQ(YankingManager::shared().currentEntry(), *killRing.entry);
                }
            } else if (!kill
                && (after != text || now != before || name.rfind("Alt+", 0) == 0
                    || name == "capitalizeWord:")) {
                // A case command selects the words first, which ends a run of kills.
                killRing.run.reset();
            }
        }
        commit(*view, QString());
        seen.insert(view->string());
        // From the newest text: what an undo in the run left to redo comes back first.
        for (int i = 0; i < 200 && view->undoManager()->canRedo(); ++i) {
            QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            EXPECT_TRUE(seen.count(view->string())) << view->string().toStdString();
        }
        const QString last = view->string();
        const platform::AttributedString lastFormatted = formatted();
        std::string trail;
        for (const std::string& each : done)
            trail += each + "; ";
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + trail);
        platform::UndoManager* manager = view->undoManager();
        int undone = 0;
        while (manager->canUndo() && undone < 200) {
            QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
            ++undone;
            EXPECT_TRUE(seen.count(view->string())) << view->string().toStdString();
        }
        EXPECT_EQ(view->string(), initial);
        EXPECT_TRUE(formatted() == initialFormatted) << "the formatting came back too";
        int redone = 0;
        while (manager->canRedo() && redone < 200) {
            QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            ++redone;
            EXPECT_TRUE(seen.count(view->string())) << view->string().toStdString();
        }
        EXPECT_EQ(redone, undone);
        EXPECT_EQ(view->string(), last);
        EXPECT_TRUE(formatted() == lastFormatted);
        // Back and forth once more, half way.
        for (int i = 0; i < undone / 2; ++i)
            QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier);
        for (int i = 0; i < undone / 2; ++i)
            QTest::keyClick(view.view.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(view->string(), last);
        if (HasFailure())
            return;
    }
}
