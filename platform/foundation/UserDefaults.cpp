#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/Environment.h"
#include "platform/foundation/FileManager.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace {

using Outcome = Result<Success, PlatformError>;

// The digit's value, or -1 for what is no hexadecimal digit.
int hexValue(QChar ch)
{
    if (ch >= u'0' && ch <= u'9')
        return ch.unicode() - u'0';
    if (ch >= u'a' && ch <= u'f')
        return ch.unicode() - u'a' + 10;
    if (ch >= u'A' && ch <= u'F')
        return ch.unicode() - u'A' + 10;
    return -1;
}

// "a/b c" as the file spells a key: "a\b%20c".
QByteArray escapedKey(const QString& key)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray result;
    for (QChar qch : key) {
        const char16_t ch = qch.unicode();
        if (ch == u'/') {
            result += '\\';
        } else if ((ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9')
            || ch == u'_' || ch == u'-' || ch == u'.') {
            result += char(ch);
        } else if (ch <= 0xFF) {
            result += '%';
            result += hex[ch >> 4];
            result += hex[ch & 0xF];
        } else {
            result += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                result += hex[(ch >> shift) & 0xF];
        }
    }
    return result;
}

QString unescapedKey(const QByteArray& raw)
{
    QString result;
    QByteArray plain;
    auto flush = [&] {
        result += QString::fromUtf8(plain);
        plain.clear();
    };
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char ch = raw[i];
        if (ch == '\\') {
            plain += '/';
        } else if (ch == '%' && i + 5 < raw.size() && raw[i + 1] == 'U') {
            bool ok = false;
            const uint code = raw.mid(i + 2, 4).toUInt(&ok, 16);
            if (!ok) {
                plain += ch;
                continue;
            }
            flush();
            result += QChar(char16_t(code));
            i += 5;
        } else if (ch == '%' && i + 2 < raw.size()) {
            bool ok = false;
            const uint code = raw.mid(i + 1, 2).toUInt(&ok, 16);
            if (!ok) {
                plain += ch;
                continue;
            }
            flush();
            result += QChar(char16_t(code));
            i += 2;
        } else {
            plain += ch;
        }
    }
    flush();
    return result;
}

// A byte array as the file spells it: "@ByteArray(...)", each byte that could be taken for
// syntax, or is not printable ASCII, written as \xHH (and a hex digit right after one too, since a
// reader takes every hex digit that follows "\x").
QByteArray encodedBytes(const QByteArray& bytes)
{
    static const char hex[] = "0123456789abcdef";
    QByteArray result = "@ByteArray(";
    bool escapeNextIfHex = false;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const bool hexDigit = std::isxdigit(byte);
        if (c == '\\' || c == '"') {
            result += '\\';
            result += c;
            escapeNextIfHex = false;
        } else if (byte < 0x20 || byte >= 0x7F || c == ';' || c == ',' || c == '=' || c == '#'
            || (escapeNextIfHex && hexDigit)) {
            result += "\\x";
            result += hex[byte >> 4];
            result += hex[byte & 0xF];
            escapeNextIfHex = true;
        } else {
            result += c;
            escapeNextIfHex = false;
        }
    }
    result += ')';
    return result;
}

// A stored value, read the way the INI format means it.
struct Value {
    enum class Kind { text, bytes, list, other };
    Kind kind = Kind::other;
    QString text;
    QByteArray bytes;
};

Value decodedValue(const QByteArray& raw)
{
    // Byte arrays and variants keep their raw bytes; everything else is UTF-8 text.
    const QByteArray start = raw.trimmed();
    const bool rawBytes = start.startsWith("@ByteArray(") || start.startsWith("@Variant(");
    const QString in = rawBytes ? QString::fromLatin1(raw) : QString::fromUtf8(raw);
    QString out;
    qsizetype keep = 0; // quoted or escaped text is never trimmed away
    bool quoted = false;
    bool list = false;
    qsizetype i = 0;
    while (i < in.size() && (in[i] == u' ' || in[i] == u'\t'))
        ++i;
    while (i < in.size()) {
        const QChar ch = in[i];
        if (ch == u'"') {
            quoted = !quoted;
            keep = out.size();
            ++i;
            continue;
        }
        if (ch == u'\\' && i + 1 < in.size()) {
            const QChar escape = in[i + 1];
            i += 2;
            switch (escape.unicode()) {
            case u'a':
                out += QChar(u'\a');
                break;
            case u'b':
                out += QChar(u'\b');
                break;
            case u'f':
                out += QChar(u'\f');
                break;
            case u'n':
                out += QChar(u'\n');
                break;
            case u'r':
                out += QChar(u'\r');
                break;
            case u't':
                out += QChar(u'\t');
                break;
            case u'v':
                out += QChar(u'\v');
                break;
            case u'x': {
                uint code = 0;
                while (i < in.size() && hexValue(in[i]) >= 0)
                    code = code * 16 + uint(hexValue(in[i++]));
                out += QChar(char16_t(code));
                break;
            }
            default:
                if (escape >= u'0' && escape <= u'7') {
                    uint code = escape.unicode() - u'0';
                    for (int digits = 1; digits < 3 && i < in.size() && in[i] >= u'0' && in[i] <= u'7';
                         ++digits)
                        code = code * 8 + (in[i++].unicode() - u'0');
                    out += QChar(char16_t(code));
                } else {
                    out += escape;
                }
            }
            keep = out.size();
            continue;
        }
        if (!quoted && ch == u';')
            break;
        if (!quoted && ch == u',') {
            list = true;
            break;
        }
        out += ch;
        ++i;
    }
    while (out.size() > keep && (out.back() == u' ' || out.back() == u'\t'))
        out.chop(1);

    Value value;
    if (list) {
        value.kind = Value::Kind::list;
    } else if (out.startsWith(u"@ByteArray(") && out.endsWith(u')')) {
        value.kind = Value::Kind::bytes;
        value.bytes = out.mid(11, out.size() - 12).toLatin1();
    } else if (out.startsWith(u"@@")) {
        value.kind = Value::Kind::text;
        value.text = out.mid(1);
    } else if (out.startsWith(u"@String(") && out.endsWith(u')')) {
        value.kind = Value::Kind::text;
        value.text = out.mid(8, out.size() - 9);
    } else if (!out.startsWith(u'@')) {
        value.kind = Value::Kind::text;
        value.text = out;
    }
    return value;
}

// The file as sections of lines. Lines that hold no entry are kept as they are, so a write gives
// back what it did not understand.
struct IniFile {
    struct Line {
        std::optional<QString> key; // the full key, section included
        QByteArray rawKey;
        QByteArray rawValue;
        QByteArray text; // a line that is no entry

        bool isBlank() const { return !key && text.trimmed().isEmpty(); }
    };
    struct Section {
        QByteArray header; // as written between the brackets
        std::vector<Line> lines;
    };
    std::vector<Section> sections;
    // A file an editor saved with a UTF-8 byte-order mark: Qt reads past the mark, and so do we, or
    // the entry on the first line would be lost. It is written back as it was.
    bool byteOrderMark = false;

    static IniFile parse(QByteArray bytes)
    {
        IniFile file;
        file.byteOrderMark = bytes.startsWith("\xEF\xBB\xBF");
        if (file.byteOrderMark)
            bytes.remove(0, 3);
        file.sections.push_back({ "General", {} });
        std::size_t current = 0;
        QString prefix;
        QList<QByteArray> lines = bytes.split('\n');
        // What follows the last line break is no line.
        if (!lines.isEmpty() && lines.back().isEmpty())
            lines.pop_back();
        for (QByteArray line : lines) {
            // Every carriage return at the end: a line written back ends in "\n" alone, so a
            // second write gives the same file.
            while (line.endsWith('\r'))
                line.chop(1);
            const QByteArray trimmed = line.trimmed();
            // A comment or blank line someone wrote into the file stays where it was, as any line
            // that is no entry.
            if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#')) {
                file.sections[current].lines.push_back({ std::nullopt, {}, {}, line });
                continue;
            }
            if (trimmed.startsWith('[') && trimmed.endsWith(']')) {
                const QByteArray header = trimmed.mid(1, trimmed.size() - 2).trimmed();
                const QString name = unescapedKey(header);
                if (name.compare(u"General", Qt::CaseInsensitive) == 0) {
                    prefix.clear();
                    current = 0;
                    continue;
                }
                prefix = name + u'/';
                file.sections.push_back({ header, {} });
                current = file.sections.size() - 1;
                continue;
            }
            const qsizetype equals = line.indexOf('=');
            if (equals < 0) {
                file.sections[current].lines.push_back({ std::nullopt, {}, {}, line });
                continue;
            }
            const QByteArray rawKey = line.left(equals).trimmed();
            file.sections[current].lines.push_back(
                { prefix + unescapedKey(rawKey), rawKey, line.mid(equals + 1), {} });
        }
        return file;
    }

    // The last entry of `key` wins, as in every INI reader.
    std::optional<QByteArray> rawValue(const QString& key) const
    {
        std::optional<QByteArray> found;
        for (const auto& section : sections) {
            for (const auto& line : section.lines) {
                if (line.key == key)
                    found = line.rawValue;
            }
        }
        return found;
    }

    // Replaces the first entry of `key` in place (or appends one to [General]) and drops the others;
    // with no value, drops them all.
    void set(const QString& key, const std::optional<QByteArray>& rawValue)
    {
        bool placed = !rawValue;
        for (auto& section : sections) {
            std::vector<Line> kept;
            for (auto& line : section.lines) {
                if (line.key != key) {
                    kept.push_back(std::move(line));
                } else if (!placed) {
                    line.rawValue = *rawValue;
                    kept.push_back(std::move(line));
                    placed = true;
                }
            }
            section.lines = std::move(kept);
        }
        if (!placed) {
            // Before the blank lines that end the section, which part it from the next one.
            auto& lines = sections.front().lines;
            auto at = lines.end();
            while (at != lines.begin() && std::prev(at)->isBlank())
                --at;
            lines.insert(at, { key, escapedKey(key), *rawValue, {} });
        }
    }

    QByteArray serialized() const
    {
        QByteArray out;
        bool endsBlank = false;
        for (const auto& section : sections) {
            // A section left with blank lines alone is dropped with them, so that removing its last
            // key does not leave a gap that each later write would keep.
            if (std::all_of(section.lines.begin(), section.lines.end(),
                    [](const Line& line) { return line.isBlank(); }))
                continue;
            // Sections are parted by one blank line: the file's own where it has one.
            if (!out.isEmpty() && !endsBlank)
                out += '\n';
            out += '[' + section.header + "]\n";
            for (const auto& line : section.lines) {
                out += (line.key ? line.rawKey + '=' + line.rawValue : line.text) + '\n';
                endsBlank = line.isBlank();
            }
        }
        if (byteOrderMark && !out.isEmpty())
            out.prepend("\xEF\xBB\xBF");
        return out;
    }
};

// The file now; a missing file is an empty one.
Result<IniFile, PlatformError> readFile(const QString& path)
{
    auto bytes = FileManager::readRegularFile(Url::fileUrl(path));
    if (bytes)
        return Result<IniFile, PlatformError>::success(IniFile::parse(bytes.value()));
    if (bytes.error().domain == PlatformError::posixDomain && bytes.error().code == ENOENT)
        return Result<IniFile, PlatformError>::success(IniFile::parse({}));
    return Result<IniFile, PlatformError>::failure(bytes.error());
}

// A write holds the lock for the few milliseconds of one read and one atomic write. A holder that
// died is found out at once (its process is gone) and one on another machine sharing the folder
// after QLockFile's stale time; a live holder that never lets go fails the write after this wait.
constexpr auto lockWait = std::chrono::seconds(10);
constexpr auto longestPause = std::chrono::milliseconds(20);

// Writers in this program queue here, each woken as the one before finishes, so that only writers
// in other programs meet at the lock file, whose wait polls.
std::mutex& writersInThisProgram()
{
    static std::mutex writers;
    return writers;
}

// Takes the lock around one read-modify-write of the settings file, so that two programs writing at
// once never write back a file without each other's change. It is QSettings' own lock beside the
// file: a program writing through QSettings waits for us, and we for it.
Outcome lockSettingsFile(QLockFile& lock)
{
    const QDeadlineTimer deadline(lockWait);
    auto pause = std::chrono::milliseconds(1);
    // QLockFile's own wait doubles its pause up to seconds: under a burst of writes it would sleep
    // long after the other writer has finished.
    while (!lock.tryLock(0)) {
        if (lock.error() == QLockFile::PermissionError)
            return Outcome::failure(PlatformError::fromErrno(EACCES, lock.fileName()));
        if (lock.error() != QLockFile::LockFailedError)
            return Outcome::failure(PlatformError::fromErrno(EIO, lock.fileName()));
        if (deadline.hasExpired())
            return Outcome::failure(PlatformError::fromErrno(EWOULDBLOCK,
                QStringLiteral("%1 is held by another program writing the settings").arg(lock.fileName())));
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration());
        std::this_thread::sleep_for(std::min(pause, left));
        pause = std::min(pause * 2, longestPause);
    }
    return Outcome::success({});
}

} // namespace

UserDefaults UserDefaults::standard()
{
    return UserDefaults(Environment::settingsFile());
}

UserDefaults::UserDefaults(const QString& path)
    : m_path(path)
{
}

std::optional<QByteArray> UserDefaults::rawValue(const QString& key) const
{
    auto file = readFile(m_path);
    if (!file)
        return std::nullopt;
    return file.value().rawValue(key);
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const
{
    auto raw = rawValue(key);
    if (!raw)
        return std::nullopt;
    Value value = decodedValue(*raw);
    if (value.kind != Value::Kind::bytes)
        return std::nullopt;
    return value.bytes;
}

std::optional<QByteArray> UserDefaults::storedText(const QString& key) const
{
    return rawValue(key);
}

std::optional<long long> UserDefaults::integer(const QString& key) const
{
    auto raw = rawValue(key);
    if (!raw)
        return std::nullopt;
    Value value = decodedValue(*raw);
    bool ok = false;
    long long number = 0;
    if (value.kind == Value::Kind::text)
        number = value.text.toLongLong(&ok);
    else if (value.kind == Value::Kind::bytes)
        number = value.bytes.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

Result<Success, PlatformError> UserDefaults::setData(const QString& key, const QByteArray& value)
{
    return write(key, encodedBytes(value));
}

Result<Success, PlatformError> UserDefaults::setInteger(const QString& key, long long value)
{
    return write(key, QByteArray::number(value));
}

Result<Success, PlatformError> UserDefaults::removeObject(const QString& key)
{
    return write(key, std::nullopt);
}

Result<Success, PlatformError> UserDefaults::write(
    const QString& key, const std::optional<QByteArray>& rawValue)
{
    auto wrap = [&](const PlatformError& error) {
        return Outcome::failure(PlatformError::wrapping(QStringLiteral("settings"), 1,
            QStringLiteral("could not write the settings file %1: %2").arg(m_path, error.description),
            error));
    };
    const Url url = Url::fileUrl(QFileInfo(m_path).absoluteFilePath());
    auto folder
        = FileManager::createDirectory(url.deletingLastPathComponent(), IntermediateDirectories::create);
    if (!folder)
        return wrap(folder.error());
    // Held from the read to the rename: a change another writer makes meanwhile is in what we read.
    const std::lock_guard inThisProgram(writersInThisProgram());
    QLockFile lock(url.path() + QStringLiteral(".lock"));
    if (auto locked = lockSettingsFile(lock); !locked)
        return wrap(locked.error());
    auto file = readFile(m_path);
    if (!file)
        return wrap(file.error());
    file.value().set(key, rawValue);
    auto written = FileManager::writeAtomically(url, file.value().serialized());
    if (!written)
        return wrap(written.error());
    return Outcome::success({});
}

} // namespace platform
