#include "platform/ui/SpeechSynthesizerAudio.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>
#include <cstring>

namespace platform {

PcmStream::PcmStream(int sampleRate)
    : m_sampleRate(sampleRate)
{
}

void PcmStream::append(const std::int16_t* samples, int count)
{
    std::lock_guard lock(m_mutex);
    if (m_closed || count <= 0)
        return;
    if (m_end >= 0)
        count = int(std::clamp<qint64>(m_end - m_written, 0, count));
    m_buffer.insert(m_buffer.end(), samples, samples + count);
    m_written += count;
}

void PcmStream::finish()
{
    std::lock_guard lock(m_mutex);
    m_finished = true;
}

bool PcmStream::waitForRoom(qint64 limit)
{
    std::unique_lock lock(m_mutex);
    m_room.wait(lock, [&] { return m_closed || m_end >= 0 || m_written - m_read < limit; });
    return !m_closed && m_end < 0;
}

qint64 PcmStream::read(std::int16_t* out, qint64 max)
{
    qint64 count = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return 0;
        qint64 available = m_written - m_read;
        if (m_end >= 0)
            available = std::min(available, m_end - m_read);
        count = std::clamp<qint64>(max, 0, available);
        std::memcpy(out, m_buffer.data() + m_bufferOffset, size_t(count) * sizeof(std::int16_t));
        m_bufferOffset += size_t(count);
        m_read += count;
        // Drop what was read once it is the larger part, so the buffer holds only what waits.
        if (m_bufferOffset > 65536 && m_bufferOffset * 2 > m_buffer.size()) {
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + qsizetype(m_bufferOffset));
            m_bufferOffset = 0;
        }
    }
    if (count > 0)
        m_room.notify_all();
    return count;
}

void PcmStream::endAt(qint64 position)
{
    {
        std::lock_guard lock(m_mutex);
        m_end = std::max(position, m_read);
    }
    m_room.notify_all();
}

void PcmStream::close()
{
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_buffer.clear();
        m_bufferOffset = 0;
    }
    m_room.notify_all();
}

bool PcmStream::isAtEnd() const
{
    std::lock_guard lock(m_mutex);
    return m_closed || (m_end >= 0 && m_read >= m_end) || (m_finished && m_read >= m_written);
}

bool PcmStream::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_finished || m_closed || m_end >= 0;
}

qint64 PcmStream::readPosition() const
{
    std::lock_guard lock(m_mutex);
    return m_read;
}

qint64 PcmStream::writePosition() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

qint64 PcmStream::waiting() const
{
    std::lock_guard lock(m_mutex);
    return m_written - m_read;
}

namespace {

// Lets QAudioSink pull samples from a stream.
class PcmDevice : public QIODevice {
public:
    explicit PcmDevice(std::shared_ptr<PcmStream> stream)
        : m_stream(std::move(stream))
    {
        open(QIODevice::ReadOnly);
    }

    bool isSequential() const override { return true; }
    bool atEnd() const override { return m_stream->isAtEnd(); }
    qint64 bytesAvailable() const override { return m_stream->waiting() * 2 + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 samples = m_stream->read(reinterpret_cast<std::int16_t*>(data), maxSize / 2);
        if (samples > 0 || m_stream->isAtEnd())
            return samples * 2;
        // The synthesis fell behind: a little silence keeps the device from stopping.
        const qint64 silence = std::min<qint64>(maxSize, m_stream->sampleRate() / 50 * 2);
        std::memset(data, 0, size_t(silence));
        return silence;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::shared_ptr<PcmStream> m_stream;
};

class QtAudioOutput : public AudioOutput {
public:
    QtAudioOutput(const QAudioDevice& device, const QAudioFormat& format)
        : m_device(device)
        , m_format(format)
    {
    }

    ~QtAudioOutput() override { stop(); }

    bool start(std::shared_ptr<PcmStream> stream) override
    {
        stop();
        m_stream = stream;
        m_source = std::make_unique<PcmDevice>(std::move(stream));
        m_sink = std::make_unique<QAudioSink>(m_device, m_format);
        m_sink->start(m_source.get());
        return m_sink->error() == QAudio::NoError;
    }

    void stop() override
    {
        if (m_sink) {
            m_sink->reset();
            m_sink.reset();
        }
        m_source.reset();
        m_stream.reset();
    }

    qint64 playedSamples() const override
    {
        return m_sink ? m_sink->processedUSecs() * m_format.sampleRate() / 1'000'000 : 0;
    }

    bool isDrained() const override
    {
        if (!m_sink || !m_stream)
            return true;
        const QAudio::State state = m_sink->state();
        return m_stream->isAtEnd() && (state == QAudio::IdleState || state == QAudio::StoppedState);
    }

private:
    QAudioDevice m_device;
    QAudioFormat m_format;
    std::shared_ptr<PcmStream> m_stream;
    std::unique_ptr<PcmDevice> m_source;
    std::unique_ptr<QAudioSink> m_sink;
};

} // namespace

std::unique_ptr<AudioOutput> makeDefaultAudioOutput(int sampleRate)
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || sampleRate <= 0)
        return nullptr;
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format))
        return nullptr;
    return std::make_unique<QtAudioOutput>(device, format);
}

} // namespace platform
