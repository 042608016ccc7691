#pragma once

#include "platform/foundation/PlatformError.h"
#include "platform/foundation/Result.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

class AudioOutput;

struct SpeechUtterance {
    static constexpr int defaultWordsPerMinute = 175;

    QString text;
    // A language such as "en_US" or "de"; empty: the language of the user's locale.
    QString language;
    int wordsPerMinute = defaultWordsPerMinute;
    // Speak with the user's own speech settings (the "SpeechWordsPerMinute" user default) in place
    // of this utterance's rate.
    bool prefersAssistiveTechnologySettings = false;
};

// Synthesised speech: 16-bit mono samples, and where each word of the text begins in them.
struct PcmAudio {
    struct Word {
        qsizetype textStart = 0; // UTF-16 offsets into the utterance's text
        qsizetype textLength = 0;
        qint64 sample = 0;
        bool operator==(const Word&) const = default;
    };
    int sampleRate = 0;
    std::vector<std::int16_t> samples;
    std::vector<Word> words;
};

enum class SpeechBoundary { immediate, word };

// Speaks text through espeak-ng. The engine is shared by the whole process and its calls are
// serialised; speech is synthesised on a thread of its own, a few seconds ahead of what is heard,
// and played through the audio device while the main thread stays free. Signals are sent on the
// thread the synthesizer lives in (the main thread).
class SpeechSynthesizer : public QObject {
    Q_OBJECT
public:
    // Plays through the default audio device, when the machine has one.
    explicit SpeechSynthesizer(QObject* parent = nullptr);
    // Plays through `output`; with none, speech can only be synthesised to memory.
    explicit SpeechSynthesizer(std::unique_ptr<AudioOutput> output, QObject* parent = nullptr);
    ~SpeechSynthesizer() override;

    // Synthesises the whole utterance to memory on the calling thread (any thread).
    static Result<PcmAudio, PlatformError> synthesize(const SpeechUtterance& utterance);

    // Starts speaking `utterance`, interrupting what is being spoken. Fails when there is no audio
    // device to play it on or the engine could not start; an empty text speaks nothing.
    Result<Success, PlatformError> speak(const SpeechUtterance& utterance);
    // Stops at once, or at the start of the next word; false when nothing was being spoken.
    bool stopSpeaking(SpeechBoundary boundary = SpeechBoundary::immediate);
    bool isSpeaking() const { return m_playback != nullptr; }
    bool hasAudioOutput() const { return m_output != nullptr; }

signals:
    void didStartSpeaking();
    // A word of the utterance's text (UTF-16 range) is about to be heard.
    void willSpeakRange(qsizetype start, qsizetype length);
    void didFinishSpeaking();
    // Speech ended early: stopped, interrupted by another utterance, or the device failed.
    void didCancelSpeaking();

private:
    struct Playback;
    void poll();
    void endPlayback(bool finished);

    std::unique_ptr<AudioOutput> m_output;
    std::shared_ptr<Playback> m_playback;
    QTimer m_timer;
};

} // namespace platform
