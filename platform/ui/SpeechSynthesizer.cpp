#include "platform/ui/SpeechSynthesizer.h"

#include "platform/foundation/Print.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/SpeechSynthesizerAudio.h"
#include "platform/ui/SpeechSynthesizerEngine.h"

#include <QLocale>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace platform {

namespace {

constexpr int pollMilliseconds = 15;
// Synthesis runs this far ahead of what is heard, which bounds the memory a long text takes.
constexpr int aheadSeconds = 5;
// Playing starts once this much is ready, so the device does not run dry at the first words.
constexpr int startAheadMilliseconds = 250;
// A stop at the next word waits no longer than this for it: a word of thousands of letters is
// spelt out for many seconds, and Stop must still be heard to stop.
constexpr int longestWordMilliseconds = 2000;

QString languageOf(const SpeechUtterance& utterance)
{
    return utterance.language.isEmpty() ? QLocale().name() : utterance.language;
}

int wordsPerMinuteOf(const SpeechUtterance& utterance)
{
    if (utterance.prefersAssistiveTechnologySettings) {
        if (const auto rate = UserDefaults::standard().integer(QStringLiteral("SpeechWordsPerMinute"));
            rate && *rate > 0)
            return int(*rate);
    }
    return utterance.wordsPerMinute;
}

} // namespace

struct SpeechSynthesizer::Playback {
    explicit Playback(int sampleRate)
        : stream(std::make_shared<PcmStream>(sampleRate))
    {
    }

    std::shared_ptr<PcmStream> stream;
    std::atomic<bool> cancelled { false };

    // Shared with the synthesis thread.
    std::mutex mutex;
    std::vector<PcmAudio::Word> words;
    bool cutAtNextWord = false;
    qint64 latestCut = 0; // where speech ends at the latest once cut at the next word

    // Main thread only.
    size_t nextWord = 0;
    bool outputStarted = false;
    bool stopping = false;
};

SpeechSynthesizer::SpeechSynthesizer(QObject* parent)
    : SpeechSynthesizer(makeDefaultAudioOutput(SpeechEngine::shared().sampleRate()), parent)
{
}

SpeechSynthesizer::SpeechSynthesizer(std::unique_ptr<AudioOutput> output, QObject* parent)
    : QObject(parent)
    , m_output(std::move(output))
{
    m_timer.setInterval(pollMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &SpeechSynthesizer::poll);
}

SpeechSynthesizer::~SpeechSynthesizer()
{
    if (m_playback) {
        m_output->stop();
        m_playback->cancelled = true;
        m_playback->stream->close();
    }
}

Result<PcmAudio, PlatformError> SpeechSynthesizer::synthesize(const SpeechUtterance& utterance)
{
    SpeechEngine& engine = SpeechEngine::shared();
    PcmAudio audio;
    audio.sampleRate = engine.sampleRate();
    SpeechEngine::Sink sink;
    sink.samples = [&](const std::int16_t* samples, int count) {
        audio.samples.insert(audio.samples.end(), samples, samples + count);
    };
    sink.word = [&](const SpeechEngine::Word& word) {
        audio.words.push_back({ word.textStart, word.textLength, word.sample });
    };
    const std::atomic<bool> never { false };
    const auto result
        = engine.synthesize(utterance.text, languageOf(utterance), wordsPerMinuteOf(utterance), sink, never);
    if (result.isFailure())
        return Result<PcmAudio, PlatformError>::failure(result.error());
    return Result<PcmAudio, PlatformError>::success(std::move(audio));
}

Result<Success, PlatformError> SpeechSynthesizer::speak(const SpeechUtterance& utterance)
{
    stopSpeaking(SpeechBoundary::immediate);
    if (!m_output) {
        return Result<Success, PlatformError>::failure({ QStringLiteral("speech"), 2,
            QStringLiteral("There is no audio output device to speak on."), {} });
    }
    SpeechEngine& engine = SpeechEngine::shared();
    if (engine.sampleRate() <= 0) {
        return Result<Success, PlatformError>::failure({ QStringLiteral("speech"), 1,
            QStringLiteral("The speech engine (espeak-ng) could not start."), {} });
    }
    if (utterance.text.isEmpty())
        return Result<Success, PlatformError>::success({});

    auto playback = std::make_shared<Playback>(engine.sampleRate());
    m_playback = playback;
    const qint64 aheadSamples = qint64(engine.sampleRate()) * aheadSeconds;
    // The thread holds the playback, never the synthesizer, so the synthesizer may go at any time;
    // a stop closes the stream, which releases the thread within one chunk of audio.
    std::thread([playback, aheadSamples, text = utterance.text, language = languageOf(utterance),
                    rate = wordsPerMinuteOf(utterance)] {
        SpeechEngine::Sink sink;
        sink.beforeChunk = [&](qint64) { return playback->stream->waitForRoom(aheadSamples); };
        sink.samples
            = [&](const std::int16_t* samples, int count) { playback->stream->append(samples, count); };
        sink.word = [&](const SpeechEngine::Word& word) {
            std::lock_guard lock(playback->mutex);
            if (playback->cutAtNextWord) {
                playback->stream->endAt(std::min(word.sample, playback->latestCut));
                playback->cancelled = true;
                return;
            }
            playback->words.push_back({ word.textStart, word.textLength, word.sample });
        };
        const auto result
            = SpeechEngine::shared().synthesize(text, language, rate, sink, playback->cancelled);
        if (result.isFailure())
            printError(QStringLiteral("Speech stopped: %1").arg(result.error().description));
        playback->stream->finish();
    }).detach();
    m_timer.start();
    return Result<Success, PlatformError>::success({});
}

bool SpeechSynthesizer::stopSpeaking(SpeechBoundary boundary)
{
    if (!m_playback)
        return false;
    Playback& playback = *m_playback;
    if (boundary == SpeechBoundary::immediate || !playback.outputStarted) {
        endPlayback(false);
        return true;
    }
    if (playback.stopping)
        return true;
    playback.stopping = true;
    // Everything up to the start of the next word not yet handed to the device is still heard.
    const qint64 handedOver = playback.stream->readPosition();
    const qint64 latestCut
        = handedOver + qint64(playback.stream->sampleRate()) * longestWordMilliseconds / 1000;
    std::lock_guard lock(playback.mutex);
    for (const PcmAudio::Word& word : playback.words) {
        if (word.sample > handedOver) {
            playback.stream->endAt(std::min(word.sample, latestCut));
            playback.cancelled = true;
            return true;
        }
    }
    // The next word is not synthesised yet: it ends the speech when it comes, and this ends it if
    // it comes too late.
    playback.cutAtNextWord = true;
    playback.latestCut = latestCut;
    playback.stream->endAt(latestCut);
    return true;
}

void SpeechSynthesizer::poll()
{
    if (!m_playback) {
        m_timer.stop();
        return;
    }
    const std::shared_ptr<Playback> playback = m_playback;
    if (!playback->outputStarted) {
        const qint64 startAhead = qint64(playback->stream->sampleRate()) * startAheadMilliseconds / 1000;
        if (playback->stream->waiting() < startAhead && !playback->stream->isFinished())
            return;
        if (!m_output->start(playback->stream)) {
            printError(QStringLiteral("The audio device did not accept the speech."));
            endPlayback(false);
            return;
        }
        playback->outputStarted = true;
        emit didStartSpeaking();
        if (m_playback != playback)
            return;
    }
    const qint64 played = m_output->playedSamples();
    std::vector<PcmAudio::Word> due;
    {
        std::lock_guard lock(playback->mutex);
        while (playback->nextWord < playback->words.size()
            && playback->words[playback->nextWord].sample <= played)
            due.push_back(playback->words[playback->nextWord++]);
    }
    for (const PcmAudio::Word& word : due) {
        emit willSpeakRange(word.textStart, word.textLength);
        if (m_playback != playback)
            return; // a receiver stopped or replaced the speech
    }
    if (playback->stream->isAtEnd() && m_output->isDrained())
        endPlayback(!playback->stopping);
}

void SpeechSynthesizer::endPlayback(bool finished)
{
    m_timer.stop();
    const std::shared_ptr<Playback> playback = std::move(m_playback);
    if (m_output)
        m_output->stop();
    playback->cancelled = true;
    playback->stream->close();
    if (finished)
        emit didFinishSpeaking();
    else
        emit didCancelSpeaking();
}

} // namespace platform
