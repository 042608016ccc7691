#include "TextViewTestSupport.h"
#include "platform/ui/SpeechSynthesizer.h"
#include "platform/ui/SpeechSynthesizerAudio.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>

using namespace textviewtest;
using platform::TextRange;
using platform::TextSelection;

namespace {

// An audio device that plays into memory, a slice at a time as the test asks.
class MemoryOutput : public platform::AudioOutput {
public:
    std::shared_ptr<platform::PcmStream> stream;
    std::vector<std::int16_t> heard;

    void play(qint64 count)
    {
        std::vector<std::int16_t> samples(size_t(count), 0);
        const qint64 read = stream ? stream->read(samples.data(), count) : 0;
        heard.insert(heard.end(), samples.begin(), samples.begin() + read);
    }
    bool start(std::shared_ptr<platform::PcmStream> played) override
    {
        stream = std::move(played);
        return true;
    }
    void stop() override { stream.reset(); }
    qint64 playedSamples() const override { return qint64(heard.size()); }
    bool isDrained() const override { return !stream || stream->isAtEnd(); }
};

// A view whose speech goes into memory, and the words it was heard saying.
struct SpeakingView : ShownView {
    MemoryOutput* memory = nullptr; // the synthesizer's
    platform::SpeechSynthesizer* synthesizer = nullptr;
    std::vector<std::pair<qsizetype, qsizetype>> words;
    bool ended = false;

    explicit SpeakingView(const QString& text)
        : ShownView(text)
    {
        auto output = std::make_unique<MemoryOutput>();
        memory = output.get();
        auto owned = std::make_unique<platform::SpeechSynthesizer>(std::move(output));
        synthesizer = owned.get();
        QObject::connect(synthesizer, &platform::SpeechSynthesizer::willSpeakRange,
            [this](qsizetype start, qsizetype length) { words.emplace_back(start, length); });
        QObject::connect(
            synthesizer, &platform::SpeechSynthesizer::didFinishSpeaking, [this] { ended = true; });
        QObject::connect(
            synthesizer, &platform::SpeechSynthesizer::didCancelSpeaking, [this] { ended = true; });
        view->setSpeechSynthesizer(std::move(owned));
    }

    // Plays until the speech ends; the words heard, read out of `spokenText`.
    QStringList listen(const QString& spokenText)
    {
        words.clear();
        ended = false;
        EXPECT_TRUE(waitFor([&] {
            memory->play(4410);
            return ended;
        }));
        QStringList result;
        for (const auto& [start, length] : words)
            result << spokenText.mid(start, length);
        return result;
    }
};

} // namespace

// What is selected is spoken, in document order, or with only a caret the whole text; an empty
// text says nothing.
TEST(EDTextViewSpeech, SpeaksTheSelectionOrTheWholeText)
{
    SpeakingView view("The quick brown fox. Jumps over it.");
    view->setSelectedTextRange(TextRange(4, 15));
    view->startSpeaking();
    EXPECT_TRUE(view.synthesizer->isSpeaking());
    EXPECT_EQ(view.listen("quick brown"), QStringList({ "quick", "brown" }));
    EXPECT_FALSE(view.synthesizer->isSpeaking());
    view->textLayoutManager().setTextSelections(
        { TextSelection(TextRange(27, 31)), TextSelection(TextRange(16, 19)) });
    view->startSpeaking();
    EXPECT_EQ(view.listen("fox\nover"), QStringList({ "fox", "over" }));

    view.setCaret(3);
    view->startSpeaking();
    EXPECT_EQ(
        view.listen(view->string()), QStringList({ "The", "quick", "brown", "fox", "Jumps", "over", "it" }));

    view->setString("");
    view->startSpeaking();
    EXPECT_FALSE(view.synthesizer->isSpeaking());
}

// Stop Speaking, from the view's context menu as Start Speaking is, ends the speech within the word
// under way.
TEST(EDTextViewSpeech, StopsWithinAWordAndIsReachedFromTheContextMenu)
{
    SpeakingView view(QString("alpha beta gamma delta ").repeated(40));
    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    QContextMenuEvent event(QContextMenuEvent::Keyboard, view.pointOf(0), view->mapToGlobal(view.pointOf(0)));
    QMenu* menu = view->menuForEvent(&event);
    ASSERT_TRUE(menu);
    const QList<QAction*> items = menu->actions();
    const auto submenu = std::find_if(items.begin(), items.end(),
        [](QAction* action) { return action->menu() && action->text() == "Speech"; });
    ASSERT_NE(submenu, items.end());
    const QList<QAction*> speech = (*submenu)->menu()->actions();
    ASSERT_EQ(speech.size(), 2);
    EXPECT_EQ(speech[0]->text() + ", " + speech[1]->text(), "Start Speaking, Stop Speaking");

    speech[0]->trigger();
    ASSERT_TRUE(waitFor([&] {
        view.memory->play(1000);
        return view.words.size() >= 2;
    }));
    const qint64 atStop = qint64(view.memory->heard.size());
    speech[1]->trigger();
    ASSERT_TRUE(waitFor([&] {
        view.memory->play(1000);
        return !view.synthesizer->isSpeaking();
    }));
    EXPECT_LT(qint64(view.memory->heard.size()) - atStop, 22050) << "no more than the word under way";
    EXPECT_EQ(view.memory->stream, nullptr) << "the device was let go";
}

// With no audio device, Start Speaking says why nothing is heard, in the view's window; it does
// not fail in silence.
TEST(EDTextViewSpeech, WithNoAudioDeviceStartSpeakingSaysWhy)
{
    ShownView view("Nothing to hear.");
    view->setSpeechSynthesizer(
        std::make_unique<platform::SpeechSynthesizer>(std::unique_ptr<platform::AudioOutput>()));
    view->startSpeaking();
    auto* box = view->findChild<QMessageBox*>("speechFailure");
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->informativeText(), "There is no audio output device to speak on.");
    box->close();
}
