#include "platform/ui/SpeechSynthesizerEngine.h"

#include <QTextBoundaryFinder>

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// About half a minute of speech: short enough that other callers get the engine soon, long
// enough that sentences are not cut.
constexpr qsizetype chunkLength = 600;
constexpr int bufferMilliseconds = 100;

std::mutex& engineMutex()
{
    // Never destroyed, like the engine: a synthesis thread may still hold it while the process exits.
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

// What the synthesis callback writes into; set under the engine lock for one chunk.
struct ChunkJob {
    const SpeechEngine::Sink* sink = nullptr;
    const std::atomic<bool>* cancelled = nullptr;
    // UTF-16 offset of each code point of the chunk, and one past the end.
    std::vector<qsizetype> codePointOffsets;
    qsizetype chunkStart = 0;
    qint64 firstSample = 0;
    qint64 samples = 0;
    const QString* text = nullptr;
};

ChunkJob* currentJob = nullptr;

int synthesisCallback(short* samples, int count, espeak_EVENT* events)
{
    ChunkJob* job = currentJob;
    if (!job)
        return 1;
    for (espeak_EVENT* event = events; event && event->type != espeakEVENT_LIST_TERMINATED; ++event) {
        // Positions count code points from 1; the engine also reports empty words at sentence
        // ends, which are not words of the text.
        if (event->type != espeakEVENT_WORD || !job->sink->word || event->text_position <= 0
            || event->length <= 0)
            continue;
        const auto& offsets = job->codePointOffsets;
        const qsizetype first
            = std::clamp<qsizetype>(event->text_position - 1, 0, qsizetype(offsets.size()) - 1);
        const qsizetype last = std::clamp<qsizetype>(first + event->length, 0, qsizetype(offsets.size()) - 1);
        const qsizetype start = job->chunkStart + offsets[size_t(first)];
        const qsizetype length = offsets[size_t(last)] - offsets[size_t(first)];
        if (length > 0 && !QStringView(*job->text).sliced(start, length).trimmed().isEmpty())
            job->sink->word({ start, length, job->firstSample + event->sample });
    }
    if (count > 0 && samples) {
        job->sink->samples(samples, count);
        job->samples += count;
    }
    return job->cancelled->load() ? 1 : 0;
}

// Where the chunk that starts at `start` ends: at a sentence end where possible, else at a word end.
// Only the chunk, and a little after it for the rules that look ahead, is searched, so that a long
// line with no sentence end is not walked back to its start for every chunk.
qsizetype chunkEnd(const QString& text, qsizetype start)
{
    constexpr qsizetype lookAheadLength = 64;
    const qsizetype end = std::min(text.size(), start + chunkLength);
    if (end == text.size())
        return end;
    const qsizetype windowLength = std::min(text.size(), end + lookAheadLength) - start;
    const qsizetype at = end - start;
    for (const auto type : { QTextBoundaryFinder::Sentence, QTextBoundaryFinder::Word }) {
        QTextBoundaryFinder finder(type, text.constData() + start, windowLength);
        finder.setPosition(at);
        const qsizetype cut = finder.isAtBoundary() ? at : finder.toPreviousBoundary();
        if (cut > 0)
            return start + cut;
    }
    return text[end - 1].isHighSurrogate() ? end - 1 : end;
}

QByteArray voiceName(const QString& language)
{
    return language.toLower().replace(QLatin1Char('_'), QLatin1Char('-')).toLatin1();
}

} // namespace

SpeechEngine& SpeechEngine::shared()
{
    // Never destroyed: a producer thread may still be finishing a chunk while the process exits.
    static SpeechEngine* engine = new SpeechEngine;
    return *engine;
}

SpeechEngine::SpeechEngine()
{
    std::lock_guard lock(engineMutex());
    const int rate = espeak_Initialize(
        AUDIO_OUTPUT_SYNCHRONOUS, bufferMilliseconds, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate > 0) {
        m_sampleRate = rate;
        espeak_SetSynthCallback(synthesisCallback);
    }
}

Result<Success, PlatformError> SpeechEngine::synthesize(const QString& text, const QString& language,
    int wordsPerMinute, const Sink& sink, const std::atomic<bool>& cancelled)
{
    if (m_sampleRate <= 0) {
        return Result<Success, PlatformError>::failure({ QStringLiteral("speech"), 1,
            QStringLiteral("The speech engine (espeak-ng) could not start."), {} });
    }
    qint64 samplesSoFar = 0;
    for (qsizetype chunkStart = 0, chunkSize = 0; chunkStart < text.size(); chunkStart += chunkSize) {
        if (cancelled.load() || (sink.beforeChunk && !sink.beforeChunk(samplesSoFar)))
            break;
        chunkSize = chunkEnd(text, chunkStart) - chunkStart;
        ChunkJob job;
        job.sink = &sink;
        job.cancelled = &cancelled;
        job.chunkStart = chunkStart;
        job.firstSample = samplesSoFar;
        job.text = &text;
        const QStringView chunk = QStringView(text).sliced(chunkStart, chunkSize);
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            job.codePointOffsets.push_back(i);
            if (chunk[i].isHighSurrogate() && i + 1 < chunk.size() && chunk[i + 1].isLowSurrogate())
                ++i;
        }
        job.codePointOffsets.push_back(chunk.size());
        const QByteArray utf8 = chunk.toUtf8();

        std::lock_guard lock(engineMutex());
        const QByteArray wanted = voiceName(language);
        if (wanted.isEmpty() || espeak_SetVoiceByName(wanted.constData()) != EE_OK) {
            const QByteArray base = wanted.left(wanted.indexOf('-'));
            if (base.isEmpty() || espeak_SetVoiceByName(base.constData()) != EE_OK)
                espeak_SetVoiceByName("en");
        }
        espeak_SetParameter(espeakRATE, std::clamp(wordsPerMinute, 80, 450), 0);
        currentJob = &job;
        const espeak_ERROR result = espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER,
            0, espeakCHARS_UTF8, nullptr, nullptr);
        currentJob = nullptr;
        samplesSoFar += job.samples;
        if (result != EE_OK && !cancelled.load()) {
            return Result<Success, PlatformError>::failure({ QStringLiteral("speech"), int(result),
                QStringLiteral("espeak-ng could not synthesise the text."), {} });
        }
    }
    return Result<Success, PlatformError>::success({});
}

} // namespace platform
