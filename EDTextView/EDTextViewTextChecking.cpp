#include "EDTextView/EDTextView.h"

#include <QMenu>

// Spelling and grammar checking hook in here: after every edit, and for the context menu. Until
// a checker is attached the view checks nothing.

void EDTextView::textCheckingDidChangeText(platform::CharacterRange)
{
}

std::shared_ptr<QMenu> EDTextView::textCheckingMenu(qint64, platform::CharacterRange*)
{
    return nullptr;
}
