#include "EDTextView/EDTextView.h"

#include <array>

namespace {

struct CommandEntry {
    const char* member;
    EDTextView::Command function;
};

// In the enumeration's order.
constexpr CommandEntry commandEntries[] = {
#define ED_COMMAND_ENTRY(member) { #member, &EDTextView::member },
#define ED_MOVE_ENTRY(member, direction, destination)                                                        \
    { #member, &EDTextView::member },                                                                        \
        { #member "AndModifySelection", &EDTextView::member##AndModifySelection },
    ED_TEXT_VIEW_COMMANDS(ED_COMMAND_ENTRY, ED_MOVE_ENTRY)
#undef ED_COMMAND_ENTRY
#undef ED_MOVE_ENTRY
};

constexpr int commandCount = int(std::size(commandEntries));

QString nameOfMember(const char* member)
{
    QString name = QString::fromLatin1(member);
    // A member that would be a keyword keeps an underscore the name does not have.
    if (name.endsWith(u'_'))
        name.chop(1);
    return name + u':';
}

const std::array<QString, commandCount>& names()
{
    static const std::array<QString, commandCount> all = [] {
        std::array<QString, commandCount> result;
        for (int i = 0; i < commandCount; ++i)
            result[size_t(i)] = nameOfMember(commandEntries[i].member);
        return result;
    }();
    return all;
}

} // namespace

int EDTextViewCommands::count()
{
    return commandCount;
}

QString EDTextViewCommands::name(EDTextViewCommand command)
{
    return names()[size_t(command)];
}

std::optional<EDTextViewCommand> EDTextViewCommands::command(QStringView name)
{
    static const QHash<QString, EDTextViewCommand> byName = [] {
        QHash<QString, EDTextViewCommand> result;
        for (int i = 0; i < commandCount; ++i)
            result.insert(names()[size_t(i)], EDTextViewCommand(i));
        return result;
    }();
    const auto it = byName.find(name.toString());
    if (it == byName.end())
        return std::nullopt;
    return *it;
}

const QHash<QString, EDTextView::Command>& EDTextView::commandTable()
{
    static const QHash<QString, Command> table = [] {
        QHash<QString, Command> result;
        for (int i = 0; i < commandCount; ++i)
            result.insert(names()[size_t(i)], commandEntries[i].function);
        return result;
    }();
    return table;
}

EDTextView::Command EDTextView::member(EDTextViewCommand command)
{
    return commandEntries[int(command)].function;
}

bool EDTextView::doCommandBySelector(const QString& name)
{
    const auto command = EDTextViewCommands::command(name);
    if (!command)
        return false;
    doCommand(*command);
    return true;
}

void EDTextView::doCommand(EDTextViewCommand command)
{
    (this->*member(command))(nullptr);
}
