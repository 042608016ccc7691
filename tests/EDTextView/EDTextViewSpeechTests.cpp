#include "TextViewTestSupport.h"
#include "platform/ui/SpeechSynthesizer.h"
#include "platform/ui/SpeechSynthesizerAudio.h"

#include <QContextMenuEvent>
#include <QMenu>

using namespace textviewtest;
using platform::TextRange;
using platform::TextSelection;

namespace {

// Speech played into memory, a slice at a time as the test asks.
struct Memory {
    std::shared_ptr<platform::PcmStream> stream;
    std::vector<std::int16_t> heard;

    void play(qint64 count)
    {
        if (!stream)
            return;
        std::vector<std::int16_t> samples(size_t(count), 0);
        const qint64 read = stream->read(samples.data(), count);
        heard.insert(heard.end(), samples.begin(), samples.begin() + read);
    }
};

class MemoryOutput : public platform::AudioOutput {
public:
    explicit MemoryOutput(std::shared_ptr<Memory> memory)
        : m_memory(std::move(memory))
    {
    }
    bool start(std::shared_ptr<platform::PcmStream> stream) override
    {
        m_memory->stream = std::move(stream);
        return true;
    }
    void stop() override { m_memory->stream.reset(); }
    qint64 playedSamples() const override { return qint64(m_memory->heard.size()); }
    bool isDrained() const override { return !m_memory->stream || m_memory->stream->isAtEnd(); }

private:
    std::shared_ptr<Memory> m_memory;
};

// A view whose speech goes into memory, and the words it was heard saying.
struct SpeakingView : ShownView {
    std::shared_ptr<Memory> memory = std::make_shared<Memory>();
    platform::SpeechSynthesizer* synthesizer = nullptr;
    std::vector<std::pair<qsizetype, qsizetype>> words;
    bool ended = false;

    explicit SpeakingView(const QString& text)
        : ShownView(text)
    {
        auto owned = std::make_unique<platform::SpeechSynthesizer>(std::make_unique<MemoryOutput>(memory));
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
    // The voice varies a little from run to run.
    platform::SpeechUtterance alone;
    alone.text = "quick brown";
    const double expected = double(platform::SpeechSynthesizer::synthesize(alone).value().samples.size());
    EXPECT_NEAR(double(view.memory->heard.size()), expected, expected * 0.03);

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

// Stop Speaking ends the speech within the word under way. Both commands are in the view's context
// menu.
TEST(EDTextViewSpeech, StopsWithinAWordAndIsReachedFromTheContextMenu)
{
    SpeakingView view(QString("alpha beta gamma delta ").repeated(40));
    view->stopSpeaking();
    EXPECT_FALSE(view.synthesizer->isSpeaking()) << "nothing to stop";

    const auto delegate = std::make_shared<EDTextViewDelegate>();
    view->setDelegate(delegate);
    QContextMenuEvent event(QContextMenuEvent::Keyboard, view.pointOf(0));
    QMenu* menu = view->menuForEvent(&event);
    ASSERT_NE(menu, nullptr);
    QMenu* speech = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->menu() && action->text() == "Speech")
            speech = action->menu();
    }
    ASSERT_NE(speech, nullptr);
    ASSERT_EQ(speech->actions().size(), 2);
    EXPECT_EQ(speech->actions()[0]->text(), "Start Speaking");
    EXPECT_EQ(speech->actions()[1]->text(), "Stop Speaking");

    speech->actions()[0]->trigger();
    ASSERT_TRUE(view.synthesizer->isSpeaking());
    view.words.clear();
    ASSERT_TRUE(waitFor([&] {
        view.memory->play(1000);
        return view.words.size() >= 2;
    }));
    const qint64 atStop = qint64(view.memory->heard.size());
    speech->actions()[1]->trigger();
    ASSERT_TRUE(waitFor([&] {
        view.memory->play(1000);
        return !view.synthesizer->isSpeaking();
    }));
    EXPECT_LT(qint64(view.memory->heard.size()) - atStop, 22050) << "no more than the word under way";
    view.memory->play(22050);
    EXPECT_EQ(view.memory->stream, nullptr) << "the device was let go";
}
