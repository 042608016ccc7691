#pragma once

// The links the Links page and the note's links pane are measured with: titles, descriptions of
// every length (none, one line, many; some in Japanese) and an address each.

#include "app/model/TDLink.h"
#include "platform/foundation/Uuid.h"

#include <QString>

namespace bench {

inline TDLink makeLink(int i, const platform::Uuid& note)
{
    static const char* const sentences[] = {
        "Ten ways to keep a sketchbook going through a busy month. ",
        "The studio\u2019s notes on light, paper and the \u201Cright\u201D pencil \u2014 and why it rarely "
        "matters. ",
        "A long read about colour theory for painters who work mostly at night. ",
        "How we built the set for the winter show. ",
        "Short. ",
    };
    TDLink link;
    if (i % 9 != 4)
        link.title
            = QStringLiteral("Studio notes %1: %2").arg(i).arg(QString::fromUtf8(sentences[i % 4]).trimmed());
    const int length = i % 6;
    if (i % 23 == 7) {
        link.desc = QStringLiteral("\u5C55\u89A7\u4F1A\u306E\u304A\u77E5\u3089\u305B %1").arg(i);
    } else if (length != 0) {
        QString description;
        for (int k = 0; k < length * length; ++k)
            description += QString::fromUtf8(sentences[(i + k) % 5]);
        link.desc = description.trimmed();
    }
    link.url = QStringLiteral("https://example.com/articles/%1/notes-on-the-work?ref=feed").arg(i);
    link.id = platform::Uuid::random();
    link.tdNoteId = note;
    return link;
}

} // namespace bench
