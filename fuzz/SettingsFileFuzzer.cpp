// The settings file: an INI file that the user, other programs or a damaged disk may have changed.
// Reading any content must not crash, and a write must change only the entry written: every
// other entry reads back as it was, every comment line is still in the file, and writing the same
// again changes nothing.
#include "FuzzSupport.h"

#include "platform/foundation/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzsupport::ensureApplication();
    // On tmpfs where there is one: every input is written and saved once.
    static QTemporaryDir folder(QDir("/dev/shm").exists() ? "/dev/shm/fuzz-settings-XXXXXX" : QString());
    const QString path = folder.path() + "/settings.ini";
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    platform::UserDefaults defaults(path);
    const QStringList keys { "TDCategories", "NSTextKillRingSize", "a/b", "General", "x y" };
    std::vector<std::optional<QByteArray>> before;
    for (const QString& key : keys) {
        before.push_back(defaults.data(key));
        defaults.integer(key);
    }
    const QByteArray value("\0[x];=\"\\\xff", 10);
    if (!defaults.setData("written", value))
        return 0;
    if (defaults.data("written") != value)
        std::abort();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (defaults.data(keys[int(i)]) != before[i])
            std::abort();
    }
    auto contents = [&] {
        QFile written(path);
        if (!written.open(QIODevice::ReadOnly))
            std::abort();
        return written.readAll();
    };
    const QByteArray once = contents();
    // The same write again leaves the file as it was: nothing of ours, a blank line neither, is
    // added at each write.
    if (!defaults.setData("written", value))
        return 0;
    if (contents() != once)
        std::abort();
    const QList<QByteArray> after = once.split('\n');
    for (QByteArray line : QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\n')) {
        // Every carriage return at the end goes: the line is written back ending in "\n" alone.
        while (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if ((trimmed.startsWith(';') || trimmed.startsWith('#')) && !after.contains(line))
            std::abort();
    }
    return 0;
}
