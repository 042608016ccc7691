#include "app/screens/note/TDNoteWindow.h"

#include "app/model/TDNote.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/store/TDProjectStore.h"

#include <QLabel>
#include <QVBoxLayout>

TDNoteWindow::TDNoteWindow(platform::Uuid noteId, TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_noteId(noteId)
    , m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("noteWindowContent"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addStretch(1);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("noteTitle"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_title);
    auto* placeholder
        = new QLabel(tr("Note editor placeholder: the text editor and the links pane are not built "
                        "yet."),
            this);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setWordWrap(true);
    layout->addWidget(placeholder);
    layout->addStretch(1);
    renderNow();
}

QString TDNoteWindow::shownTitle() const
{
    return m_title->text();
}

void TDNoteWindow::render()
{
    auto found = m_stores.projectStore ? m_stores.projectStore->locateNote(m_noteId) : std::nullopt;
    m_title->setText(found ? tdDisplayText(found->note->title()) : tr("No note"));
}
