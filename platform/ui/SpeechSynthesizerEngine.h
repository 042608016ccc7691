#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

namespace platform {

// espeak-ng, initialised once for the process. The library is not re-entrant, so every call is
// serialised here; text is synthesised a chunk (a few sentences) at a time, and the lock is taken
// for one chunk only, so a long text being spoken never keeps another caller waiting for long.
class SpeechEngine {
public:
    struct Word {
        qsizetype textStart; // UTF-16 offsets into the text
        qsizetype textLength;
        qint64 sample; // where the word starts in the audio
    };
    struct Sink {
        // Called before each chunk with the samples produced so far; false stops the synthesis.
        std::function<bool(qint64 samplesSoFar)> beforeChunk;
        std::function<void(const std::int16_t* samples, int count)> samples;
        std::function<void(const Word&)> word;
    };

    // The engine, initialised on first use; its sample rate is 0 when espeak-ng could not start.
    static SpeechEngine& shared();

    int sampleRate() const { return m_sampleRate; }

    // Synthesises `text` in `language` ("en_US", "de"; the engine's English when it has no such
    // voice) at `wordsPerMinute` into `sink`. Stops early, without failing, once `cancelled` is set.
    Result<Success, PlatformError> synthesize(const QString& text, const QString& language,
        int wordsPerMinute, const Sink& sink, const std::atomic<bool>& cancelled);

private:
    SpeechEngine();

    int m_sampleRate = 0;
};

} // namespace platform
