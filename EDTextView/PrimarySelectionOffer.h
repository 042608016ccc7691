#pragma once

#include "platform/text/TextRange.h"

#include <QMimeData>
#include <QPointer>

#include <optional>
#include <vector>

namespace platform {
class TextContentStorage;
}

namespace edtextview {

// The selected text a view offers as the desktop's primary selection, put together only when a
// program (or a middle click) asks for it. A selection that grows with every step of a drag or
// of Shift+arrow over a long note would otherwise be copied whole at each step, and kept in memory
// until the next one.
//
// It is the text of the ranges as they were when offered: its view calls `settle` before it changes
// its text or goes, and from then on the offer holds that text itself. Main thread only.
class PrimarySelectionOffer : public QMimeData {
public:
    // `ranges` are non-empty, sorted by location; their texts are joined by line feeds.
    PrimarySelectionOffer(
        const platform::TextContentStorage& storage, std::vector<platform::TextRange> ranges);

    // Takes the text now, while the ranges still hold it.
    void settle();
    bool isSettled() const { return m_text.has_value(); }

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QString joinedText() const;

    QPointer<const platform::TextContentStorage> m_storage;
    std::vector<platform::TextRange> m_ranges;
    // Once settled, in the UTF-8 other programs read, which takes half the memory of UTF-16 for
    // most notes.
    std::optional<QByteArray> m_text;
};

} // namespace edtextview
