#pragma once

#include <QString>

#include <deque>
#include <optional>

namespace platform {
class UserDefaults;
}

// The kill ring: text removed by the delete commands, shared by every text view of the process.
// Consecutive deletions of one kind grow one entry; any other kind, or an edit or selection change
// in between, starts a new one. The ring keeps the newest "NSTextKillRingSize" entries (at least
// one). Main thread only.
class YankingManager {
public:
    enum class DeleteAction {
        delete_,
        deleteToMark,
        deleteWordForward,
        deleteWordBackward,
        deleteToBeginningOfLine,
        deleteToEndOfLine,
        deleteToBeginningOfParagraph,
        deleteToEndOfParagraph,
    };

    static inline const QString killRingSizeDefaultsKey = QStringLiteral("NSTextKillRingSize");

    // Made on first use, with the ring size from the standard user defaults.
    static YankingManager& shared();
    // The ring size the defaults give: their integer, at least 1; 1 when it is missing or not a
    // number.
    static int ringSize(const platform::UserDefaults& defaults);

    explicit YankingManager(int ringSize);

    // Whether the last edit was a yank; every other edit clears it.
    bool yanking = false;
    std::optional<DeleteAction> lastDeleteAction;

    void append(const QString& text, DeleteAction action);
    // What a yank inserts: the newest entry, empty before the first kill.
    QString currentEntry() const { return m_entries.empty() ? QString() : m_entries.front(); }

    int ringSize() const { return m_ringSize; }
    // Newest first.
    const std::deque<QString>& entries() const { return m_entries; }

private:
    int m_ringSize = 1;
    std::deque<QString> m_entries;
};
