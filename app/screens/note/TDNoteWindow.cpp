#include "app/screens/note/TDNoteWindow.h"

#include "app/model/TDNote.h"

#include <QLabel>
#include <QVBoxLayout>

TDNoteWindow::TDNoteWindow(TDNoteBinding note, TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_note(std::move(note))
    , m_stores(std::move(stores))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addStretch(1);
    m_title = new QLabel(this);
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

void TDNoteWindow::render()
{
    auto note = m_note.get ? m_note.get() : nullptr;
    m_title->setText(note ? note->title() : tr("No note"));
}
