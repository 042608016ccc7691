#include "EDTextView/YankingManager.h"

#include "platform/foundation/UserDefaults.h"

#include <algorithm>
#include <limits>

YankingManager& YankingManager::shared()
{
    static YankingManager manager(ringSize(platform::UserDefaults::standard()));
    return manager;
}

int YankingManager::ringSize(const platform::UserDefaults& defaults)
{
    const std::optional<long long> size = defaults.integer(killRingSizeDefaultsKey);
    if (!size)
        return 1;
    return int(std::clamp<long long>(*size, 1, std::numeric_limits<int>::max()));
}

YankingManager::YankingManager(int ringSize)
    : m_ringSize(std::max(1, ringSize))
{
}

void YankingManager::append(const QString& text, DeleteAction action)
{
    if (!lastDeleteAction || *lastDeleteAction != action || m_entries.empty()) {
        m_entries.push_front(QString());
        while (int(m_entries.size()) > m_ringSize)
            m_entries.pop_back();
    }
    QString& entry = m_entries.front();
    switch (action) {
    case DeleteAction::deleteToMark:
    case DeleteAction::deleteWordForward:
    case DeleteAction::deleteToEndOfLine:
    case DeleteAction::deleteToEndOfParagraph:
        entry.append(text);
        break;
    case DeleteAction::deleteWordBackward:
    case DeleteAction::deleteToBeginningOfLine:
    case DeleteAction::deleteToBeginningOfParagraph:
        entry.prepend(text);
        break;
    case DeleteAction::delete_:
        entry = text;
        break;
    }
    lastDeleteAction = action;
}
