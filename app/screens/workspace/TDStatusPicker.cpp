#include "app/screens/workspace/TDStatusPicker.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDProject.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDFocusRing.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

using tdappearance::SystemColor;

namespace {

SystemColor statusColor(TDStatus status)
{
    switch (status) {
    case TDStatus::inProgress:
        return SystemColor::green;
    case TDStatus::archived:
        return SystemColor::gray;
    case TDStatus::finished:
        return SystemColor::blue;
    }
    return SystemColor::gray;
}

} // namespace

TDStatusPicker::TDStatusPicker(
    std::shared_ptr<TDProject> project, QWidget* parent, std::function<void()> onChosen)
    : platform::ObservedWidget(parent)
    , m_project(std::move(project))
    , m_onChosen(std::move(onChosen))
{
    setObjectName(QStringLiteral("statusControl"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    m_dot = new QLabel(this);
    m_dot->setObjectName(QStringLiteral("statusDot"));
    m_dot->setFixedSize(dotSize, dotSize);
    layout->addWidget(m_dot);
    m_picker = new QComboBox(this);
    m_picker->setObjectName(QStringLiteral("statusPicker"));
    m_picker->setAccessibleName(tdLocalized("status"));
    // Screen readers on Linux name a list box by its choice; this says what the choice is of.
    m_picker->setAccessibleDescription(tdLocalized("status"));
    m_picker->setToolTip(tdLocalized("Change the status"));
    // A click opens the list; only Tab leaves the picker with the keys.
    m_picker->setFocusPolicy(Qt::TabFocus);
    tdfocusring::attach(m_picker, 5);
    for (TDStatus status : allTDStatuses)
        m_picker->addItem(rawValue(status), static_cast<int>(status));
    // Only the user's choice writes: setting the shown row in a render must not feed back.
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        auto status = static_cast<TDStatus>(m_picker->itemData(index).toInt());
        if (status == m_project->status())
            return;
        m_project->setStatus(status);
        if (m_onChosen)
            m_onChosen();
    });
    layout->addWidget(m_picker);
    renderNow();
}

void TDStatusPicker::render()
{
    TDStatus status = m_project->status();
    int index = m_picker->findData(static_cast<int>(status));
    if (m_picker->currentIndex() != index) {
        const QSignalBlocker block(m_picker);
        m_picker->setCurrentIndex(index);
    }
    SymbolPainter::setPixmap(m_dot, Symbol::circleFill, dotSize,
        tdappearance::color(statusColor(status), this), SymbolPainter::Fill::gradient);
    m_dot->setAccessibleName(rawValue(status));
}

void TDStatusPicker::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        setNeedsRender();
}

TDStatusAction::TDStatusAction(
    std::shared_ptr<TDProject> project, QObject* parent, std::function<void()> onChosen)
    : QWidgetAction(parent)
    , m_project(std::move(project))
    , m_onChosen(std::move(onChosen))
{
    setObjectName(QStringLiteral("statusAction"));
    setText(tdLocalized("status"));
}

QWidget* TDStatusAction::createWidget(QWidget* parent)
{
    return new TDStatusPicker(m_project, parent, m_onChosen);
}
