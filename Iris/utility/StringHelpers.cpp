#include "Iris/utility/StringHelpers.h"

#include "Iris/utility/MD5.h"

#include <QStringList>

namespace iris {

QString md5HexString(const QString& text)
{
    return QString::fromLatin1(MD5::hexDigest(text.toUtf8()));
}

std::optional<QString> fileExtension(const QString& text)
{
    qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return std::nullopt;
    const QStringList pieces = text.mid(dot + 1).split(QLatin1Char('@'), Qt::SkipEmptyParts);
    if (pieces.isEmpty() || pieces.first().isEmpty())
        return std::nullopt;
    return pieces.first();
}

} // namespace iris
