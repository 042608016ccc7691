#include "app/screens/note/TDNoteView.h"

#include "app/model/TDNote.h"
#include "app/screens/common/BottomBar.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/note/EDTextEditView.h"
#include "app/screens/note/TDLinksPane.h"
#include "app/store/TDLinkStore.h"

#include <QEvent>
#include <QPainter>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// A hairline between the text and the links, as between the main window's columns.
class TDNoteSplitHandle : public QSplitterHandle {
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), tdappearance::color(tdappearance::SystemColor::separator, this));
    }
};

class TDNoteSplit : public QSplitter {
public:
    explicit TDNoteSplit(QWidget* parent)
        : QSplitter(Qt::Horizontal, parent)
    {
        setHandleWidth(1);
    }

protected:
    QSplitterHandle* createHandle() override { return new TDNoteSplitHandle(orientation(), this); }
};

} // namespace

TDNoteView::TDNoteView(std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project, TDStores stores,
    TDBinding<QColor> color, TDBinding<QString> label, TDBinding<QString> text, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_note(std::move(note))
    , m_project(std::move(project))
    , m_stores(std::move(stores))
    , m_color(std::move(color))
    , m_label(std::move(label))
    , m_text(std::move(text))
{
    setObjectName(QStringLiteral("noteView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_split = new TDNoteSplit(this);
    m_split->setObjectName(QStringLiteral("noteSplit"));
    m_split->setChildrenCollapsible(false);
    m_editor = new EDTextEditView({ m_text.get, m_text.set },
        { [this] { return m_selection; },
            [this](std::optional<platform::CharacterRange> selection) { m_selection = selection; } },
        {}, {}, m_split);
    m_editor->setMinimumWidth(editorMinimumWidth);
    m_split->addWidget(m_editor);
    m_linksPane = new TDLinksPane(m_note, m_project, m_stores, m_split);
    m_split->addWidget(m_linksPane);
    // A wider window widens the text; the links pane keeps its width.
    m_split->setStretchFactor(0, 1);
    m_split->setStretchFactor(1, 0);
    layout->addWidget(m_split, 1);
    m_bottomBar = new BottomBar(bottombar::Note {}, this);
    layout->addWidget(m_bottomBar);
    setFocusProxy(m_editor);
}

void TDNoteView::setNote(std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project)
{
    if (note == m_note && project == m_project)
        return;
    m_note = std::move(note);
    m_project = std::move(project);
    m_linksPane->setNote(m_note, m_project);
    setNeedsRender();
}

void TDNoteView::render()
{
    m_editor->updateView();
    qint64 links = 0;
    if (m_stores.linkStore && m_note) {
        const auto& all = m_stores.linkStore->tdLinks();
        links = std::count_if(
            all.begin(), all.end(), [&](const TDLink& link) { return link.tdNoteId == m_note->id(); });
    }
    m_bottomBar->setBarType(bottombar::Note { m_color.get(), m_label.get(), links });
}

void TDNoteView::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    // The marker's colour has a light and a dark shade.
    if (event->type() == QEvent::PaletteChange)
        setNeedsRender();
}
