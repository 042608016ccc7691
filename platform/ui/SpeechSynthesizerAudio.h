#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

// Speech audio on its way from the synthesis thread to the audio device: 16-bit mono samples,
// written by one producer and read by one consumer.
class PcmStream {
public:
    explicit PcmStream(int sampleRate);

    int sampleRate() const { return m_sampleRate; }

    // Producer side.
    void append(const std::int16_t* samples, int count);
    // No more samples will come.
    void finish();
    // Waits until fewer than `limit` samples are waiting to be read; false once the stream was
    // closed or cut, when the producer should stop.
    bool waitForRoom(qint64 limit);

    // Consumer side: up to `max` samples; 0 when none are waiting (or the stream ended).
    qint64 read(std::int16_t* out, qint64 max);
    // Nothing at or after sample `position` (counted from the start) will be read; the stream
    // ends there.
    void endAt(qint64 position);
    // The consumer is gone: reads return nothing and the producer is released.
    void close();

    // Finished (or cut) and read to its end.
    bool isAtEnd() const;
    // No more samples will be added beyond those written (or a cut is set).
    bool isFinished() const;
    qint64 readPosition() const;
    qint64 writePosition() const;
    qint64 waiting() const;

private:
    const int m_sampleRate;
    mutable std::mutex m_mutex;
    std::condition_variable m_room;
    std::vector<std::int16_t> m_buffer; // samples not read yet start at m_bufferOffset
    size_t m_bufferOffset = 0;
    qint64 m_read = 0;
    qint64 m_written = 0;
    qint64 m_end = -1; // where a cut ends the stream; -1 for none
    bool m_finished = false;
    bool m_closed = false;
};

// Where synthesised speech is played.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    // Starts playing `stream`, pulling samples from it as the device needs them; false when the
    // device refused.
    virtual bool start(std::shared_ptr<PcmStream> stream) = 0;
    // Silences the device at once and lets go of the stream.
    virtual void stop() = 0;
    // Samples of the stream heard so far.
    virtual qint64 playedSamples() const = 0;
    // The stream ended and everything in it has been played.
    virtual bool isDrained() const = 0;
};

// The default audio device of the sound server, through Qt Multimedia; null when the machine has
// none (no sound server, or no output on it).
std::unique_ptr<AudioOutput> makeDefaultAudioOutput(int sampleRate);

} // namespace platform
