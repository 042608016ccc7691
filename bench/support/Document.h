#pragma once

// The text the text benchmarks run on: `paragraphs` lines of 2 to 90 characters (about 10 MB for
// 200,000), of common words with accents and tabs, the same text on every run; and the font the
// views showing it use.

#include <QFont>
#include <QString>

#include <iterator>
#include <random>

namespace bench {

inline QString makeDocument(int paragraphs)
{
    static const char* const words[]
        = { "the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "Tindrel", "reference", "note",
              "caf\u00e9", "na\u00efve", "project", "layout", "\t", "1234", "lorem", "ipsum", "dolor" };
    std::mt19937 random(42);
    QString text;
    text.reserve(qsizetype(paragraphs) * 53);
    for (int line = 0; line < paragraphs; ++line) {
        const int length = int(random() % 88) + 2;
        const qsizetype start = text.size();
        while (text.size() - start < length) {
            text += QString::fromUtf8(words[random() % std::size(words)]);
            text += QLatin1Char(' ');
        }
        text += QLatin1Char('\n');
    }
    return text;
}

inline QFont documentFont()
{
    QFont font("DejaVu Sans Mono");
    font.setPixelSize(13);
    return font;
}

} // namespace bench
