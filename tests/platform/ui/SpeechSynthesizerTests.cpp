#include "platform/ui/SpeechSynthesizer.h"
#include "platform/ui/SpeechSynthesizerAudio.h"
#include "platform/ui/SpeechSynthesizerEngine.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cmath>
#include <limits>
#include <thread>

using namespace platform;

namespace {

// An audio device the test plays by hand, a number of samples at a time.
struct FakeDevice {
    std::shared_ptr<PcmStream> stream;
    std::vector<std::int16_t> heard;
    int starts = 0;
    int stops = 0;

    void play(qint64 count)
    {
        if (!stream)
            return;
        std::vector<std::int16_t> samples(static_cast<size_t>(count));
        const qint64 read = stream->read(samples.data(), count);
        heard.insert(heard.end(), samples.begin(), samples.begin() + read);
    }
};

class FakeOutput : public AudioOutput {
public:
    explicit FakeOutput(std::shared_ptr<FakeDevice> device)
        : m_device(std::move(device))
    {
    }
    bool start(std::shared_ptr<PcmStream> stream) override
    {
        m_device->stream = std::move(stream);
        ++m_device->starts;
        return true;
    }
    void stop() override
    {
        m_device->stream.reset();
        ++m_device->stops;
    }
    qint64 playedSamples() const override { return qint64(m_device->heard.size()); }
    bool isDrained() const override { return !m_device->stream || m_device->stream->isAtEnd(); }

private:
    std::shared_ptr<FakeDevice> m_device;
};

struct Recorder {
    QStringList events;
    std::vector<std::pair<qsizetype, qsizetype>> ranges;

    explicit Recorder(SpeechSynthesizer& synthesizer)
    {
        QObject::connect(&synthesizer, &SpeechSynthesizer::didStartSpeaking, [this] { events << "start"; });
        QObject::connect(&synthesizer, &SpeechSynthesizer::didFinishSpeaking, [this] { events << "finish"; });
        QObject::connect(&synthesizer, &SpeechSynthesizer::didCancelSpeaking, [this] { events << "cancel"; });
        QObject::connect(
            &synthesizer, &SpeechSynthesizer::willSpeakRange, [this](qsizetype start, qsizetype length) {
                events << "word";
                ranges.emplace_back(start, length);
            });
    }
    bool ended() const { return events.contains("finish") || events.contains("cancel"); }
};

SpeechUtterance utterance(const QString& text)
{
    SpeechUtterance utterance;
    utterance.text = text;
    utterance.language = "en_US";
    return utterance;
}

QString repeated(const QString& words, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += words;
    return text;
}

} // namespace

TEST(SpeechSynthesizer, SynthesisesToMemoryWithWordPositions)
{
    const QString text = "Caf\u00e9 na\u00efve \U0001F600 done. Second sentence here!";
    const auto audio = SpeechSynthesizer::synthesize(utterance(text));
    ASSERT_TRUE(audio.isSuccess()) << audio.error().description.toStdString();
    EXPECT_EQ(audio.value().sampleRate, 22050);
    EXPECT_GT(audio.value().samples.size(), 22050u);
    QStringList words;
    for (const PcmAudio::Word& word : audio.value().words)
        words << text.mid(word.textStart, word.textLength);
    EXPECT_EQ(words,
        QStringList({ "Caf\u00e9", "na\u00efve", "\U0001F600", "done", "Second", "sentence", "here" }));

    // A text longer than one chunk of the engine: positions stay right across chunks.
    const QString longText = repeated("Alpha beta gamma. ", 150);
    const auto longAudio = SpeechSynthesizer::synthesize(utterance(longText));
    ASSERT_TRUE(longAudio.isSuccess());
    const auto& marks = longAudio.value().words;
    ASSERT_EQ(marks.size(), 450u);
    for (size_t i = 0; i < marks.size(); ++i) {
        EXPECT_EQ(longText.mid(marks[i].textStart, marks[i].textLength),
            QStringList({ "Alpha", "beta", "gamma" })[int(i % 3)]);
        if (i > 0) {
            EXPECT_GT(marks[i].sample, marks[i - 1].sample);
        }
    }
    EXPECT_GT(longAudio.value().samples.size(), size_t(marks.back().sample));

    EXPECT_TRUE(SpeechSynthesizer::synthesize(utterance({})).value().samples.empty());
}

TEST(SpeechSynthesizer, SpeaksThroughTheOutputAnnouncingEachWord)
{
    auto device = std::make_shared<FakeDevice>();
    SpeechSynthesizer synthesizer(std::make_unique<FakeOutput>(device));
    Recorder recorder(synthesizer);
    const QString text = "One two three.";
    ASSERT_TRUE(synthesizer.speak(utterance(text)).isSuccess());
    EXPECT_TRUE(synthesizer.isSpeaking());
    ASSERT_TRUE(testsupport::waitUntil([&] {
        device->play(2205);
        return recorder.ended();
    }));
    EXPECT_EQ(recorder.events, QStringList({ "start", "word", "word", "word", "finish" }));
    QStringList spoken;
    for (const auto& [start, length] : recorder.ranges)
        spoken << text.mid(start, length);
    EXPECT_EQ(spoken, QStringList({ "One", "two", "three" }));
    EXPECT_FALSE(synthesizer.isSpeaking());
    // The engine varies its voice a little from run to run.
    const double alone = double(SpeechSynthesizer::synthesize(utterance(text)).value().samples.size());
    EXPECT_NEAR(double(device->heard.size()), alone, alone * 0.02);
}

TEST(SpeechSynthesizer, StopsAtOnce)
{
    auto device = std::make_shared<FakeDevice>();
    SpeechSynthesizer synthesizer(std::make_unique<FakeOutput>(device));
    Recorder recorder(synthesizer);
    ASSERT_TRUE(synthesizer.speak(utterance(repeated("A long text that goes on and on. ", 200))).isSuccess());
    ASSERT_TRUE(testsupport::waitUntil([&] {
        device->play(2205);
        return recorder.events.contains("word");
    }));
    const size_t heard = device->heard.size();
    EXPECT_TRUE(synthesizer.stopSpeaking());
    EXPECT_FALSE(synthesizer.isSpeaking());
    EXPECT_EQ(recorder.events.count("cancel"), 1);
    EXPECT_EQ(device->stream, nullptr) << "the device was silenced";
    device->play(22050);
    EXPECT_EQ(device->heard.size(), heard);
    EXPECT_FALSE(synthesizer.stopSpeaking());

    // The engine is free again for the next utterance.
    recorder.events.clear();
    ASSERT_TRUE(synthesizer.speak(utterance("Again.")).isSuccess());
    ASSERT_TRUE(testsupport::waitUntil([&] {
        device->play(2205);
        return recorder.ended();
    }));
    EXPECT_EQ(recorder.events.last(), "finish");
}

TEST(SpeechSynthesizer, StopsAtTheNextWordWhenAsked)
{
    auto device = std::make_shared<FakeDevice>();
    SpeechSynthesizer synthesizer(std::make_unique<FakeOutput>(device));
    Recorder recorder(synthesizer);
    const QString text = repeated("alpha beta gamma delta ", 40);
    ASSERT_TRUE(synthesizer.speak(utterance(text)).isSuccess());
    ASSERT_TRUE(testsupport::waitUntil([&] {
        device->play(1000);
        return recorder.events.count("word") >= 2;
    }));
    const qint64 atStop = qint64(device->heard.size());
    EXPECT_TRUE(synthesizer.stopSpeaking(SpeechBoundary::word));
    EXPECT_TRUE(synthesizer.isSpeaking()) << "the word under way is still heard";
    ASSERT_TRUE(testsupport::waitUntil([&] {
        device->play(1000);
        return recorder.ended();
    }));
    EXPECT_EQ(recorder.events.last(), "cancel");
    // When the device has caught up with the synthesis at the end of a chunk, the next word begins
    // exactly where hearing stopped, and nothing more is heard.
    const qint64 end = qint64(device->heard.size());
    EXPECT_GE(end, atStop);
    EXPECT_LT(end - atStop, 22050) << "no more than the word under way";
    // The engine varies its voice a little from run to run, so word starts are compared loosely.
    const auto alone = SpeechSynthesizer::synthesize(utterance(text));
    qint64 nearest = std::numeric_limits<qint64>::max();
    for (const PcmAudio::Word& word : alone.value().words)
        nearest = std::min(nearest, std::abs(word.sample - end));
    EXPECT_LT(nearest, end / 100 + 200) << "speech ends where a word begins";
}

TEST(SpeechSynthesizer, WithoutAnAudioDeviceSpeechFailsClearly)
{
    SpeechSynthesizer synthesizer(std::unique_ptr<AudioOutput> {});
    Recorder recorder(synthesizer);
    const auto result = synthesizer.speak(utterance("Hello."));
    ASSERT_TRUE(result.isFailure());
    EXPECT_FALSE(result.error().description.isEmpty());
    EXPECT_FALSE(synthesizer.isSpeaking());
    EXPECT_FALSE(synthesizer.hasAudioOutput());
    EXPECT_TRUE(recorder.events.isEmpty());
}

// The engine is not re-entrant: threads synthesising at once must each get what they would get
// alone (the engine varies its voice a little from run to run, so lengths are compared loosely).
TEST(SpeechSynthesizer, ConcurrentSynthesisIsSerialised)
{
    const SpeechUtterance sentence
        = utterance("The engine speaks one utterance at a time. Then another one.");
    const PcmAudio expected = SpeechSynthesizer::synthesize(sentence).value();
    std::vector<PcmAudio> results(4);
    std::vector<std::thread> threads;
    for (PcmAudio& result : results)
        threads.emplace_back([&] { result = SpeechSynthesizer::synthesize(sentence).value(); });
    for (std::thread& thread : threads)
        thread.join();
    for (const PcmAudio& result : results) {
        ASSERT_EQ(result.words.size(), expected.words.size());
        for (size_t i = 0; i < result.words.size(); ++i) {
            EXPECT_EQ(result.words[i].textStart, expected.words[i].textStart);
            EXPECT_EQ(result.words[i].textLength, expected.words[i].textLength);
        }
        EXPECT_NEAR(
            double(result.samples.size()), double(expected.samples.size()), expected.samples.size() * 0.02);
    }
}

// A note pasted as one line with no full stop, or one endless word, must not keep the first word
// waiting while the whole line is searched for a place to cut, again for every piece.
TEST(SpeechSynthesizer, FirstWordOfALongLineComesAtOnce)
{
    QString words;
    while (words.size() < 3'000'000)
        words += QStringLiteral("lorem ipsum dolor sit amet ");
    for (const QString& text : { words, QString(3'000'000, QLatin1Char('a')) }) {
        SpeechEngine::Sink sink;
        sink.beforeChunk = [](qint64) { return false; };
        const std::atomic<bool> never { false };
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(
            SpeechEngine::shared().synthesize(text, QStringLiteral("en_US"), 175, sink, never).isSuccess());
        EXPECT_LT(clock.elapsed(), 1000) << text.left(12).toStdString();
    }
}

// A word of thousands of letters is spelt out for many seconds: Stop at the next word still ends
// the speech soon.
TEST(SpeechSynthesizer, StopAtTheNextWordEndsSoonWithinAnEndlessWord)
{
    auto device = std::make_shared<FakeDevice>();
    SpeechSynthesizer synthesizer(std::make_unique<FakeOutput>(device));
    Recorder recorder(synthesizer);
    ASSERT_TRUE(synthesizer.speak(utterance("Hello " + QString(3000, 'x') + " end.")).isSuccess());
    // A second into the long word, whose next piece is far more than that ahead.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        device->play(1000);
        return device->heard.size() >= 30'000;
    }));
    const size_t heardAtStop = device->heard.size();
    EXPECT_TRUE(synthesizer.stopSpeaking(SpeechBoundary::word));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        device->play(1000);
        return recorder.ended();
    }));
    // Two seconds after what was handed to the device, which may be a little ahead of what it
    // played; the rest of the word is seconds more.
    EXPECT_LE(device->heard.size(), heardAtStop + size_t(3 * 22050));
}
