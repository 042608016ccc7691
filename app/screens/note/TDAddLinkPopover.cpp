#include "app/screens/note/TDAddLinkPopover.h"

#include "app/TDLocalizedText.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDPrimaryButton.h"
#include "platform/ui/ProgressIndicator.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

using tdappearance::SystemColor;

namespace {

constexpr int statusIconSize = 16;

} // namespace

TDAddLinkPopover::TDAddLinkPopover(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("addLinkPopover"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);

    auto* row = new QHBoxLayout;
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("linkAddressField"));
    m_field->setPlaceholderText(tdLocalized("URL"));
    // The placeholder goes once something is typed; a screen reader keeps the field's name.
    m_field->setAccessibleName(tdLocalized("URL"));
    tdfocusring::attach(m_field, 4);
    m_field->setFixedWidth(fieldWidth);
    m_field->setInputMethodHints(Qt::ImhUrlCharactersOnly | Qt::ImhNoAutoUppercase);
    row->addWidget(m_field, 0, Qt::AlignVCenter);
    m_add = new TDPrimaryButton(tdLocalized("Add"), this);
    m_add->setObjectName(QStringLiteral("addLinkButton"));
    // Return in the field is not meant to add (nor would a default button take it outside a
    // dialog), but Return on the focused button presses it, as on the other buttons the keys reach.
    m_add->setDefault(false);
    m_add->setAutoDefault(true);
    m_add->setMinimumWidth(0);
    tdfocusring::attach(m_add, 5);
    row->addWidget(m_add, 0, Qt::AlignVCenter);
    layout->addLayout(row);

    m_statusRow = new QWidget(this);
    auto* status = new QHBoxLayout(m_statusRow);
    status->setContentsMargins(0, 0, 0, 0);
    m_progress = new platform::ProgressIndicator(m_statusRow);
    m_progress->setObjectName(QStringLiteral("linkFetchProgress"));
    m_progress->setControlSize(platform::ProgressIndicator::ControlSize::small);
    status->addWidget(m_progress, 0, Qt::AlignTop);
    m_warning = new QLabel(m_statusRow);
    m_warning->setFixedSize(statusIconSize, statusIconSize);
    status->addWidget(m_warning, 0, Qt::AlignTop);
    m_status = new QLabel(m_statusRow);
    m_status->setObjectName(QStringLiteral("linkStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    m_status->setFont(tdappearance::systemFont(statusFontSize));
    // As wide as the row above, so a long message wraps instead of widening the popover.
    m_status->setFixedWidth(
        fieldWidth + m_add->sizeHint().width() + row->spacing() - statusIconSize - status->spacing());
    status->addWidget(m_status, 1);
    layout->addWidget(m_statusRow);

    connect(m_add, &QPushButton::clicked, this, [this] {
        if (m_onAdd)
            m_onAdd(m_field->text());
    });
    connect(m_field, &QLineEdit::textEdited, this, [this] { showMessage(QString()); });
    applyColors();
    updateStatus();
}

void TDAddLinkPopover::setFetching(int count)
{
    if (count == m_fetching)
        return;
    m_fetching = count;
    updateStatus();
}

void TDAddLinkPopover::showMessage(const QString& message)
{
    if (message == m_message)
        return;
    m_message = message;
    updateStatus();
}

void TDAddLinkPopover::updateStatus()
{
    // A refusal is about what was just typed, so it wins over the fetches still running.
    const bool refused = !m_message.isEmpty();
    if (refused)
        m_status->setText(m_message);
    else if (m_fetching == 1)
        m_status->setText(tdLocalized("Fetching the page\u2026"));
    else if (m_fetching > 1)
        m_status->setText(tdLocalized("Fetching %1 pages\u2026").arg(m_fetching));
    m_warning->setVisible(refused);
    m_progress->setVisible(!refused);
    if (m_fetching > 0)
        m_progress->startAnimation();
    else
        m_progress->stopAnimation();
    m_statusRow->setVisible(refused || m_fetching > 0);
}

void TDAddLinkPopover::applyColors()
{
    const bool dark = tdappearance::isDark(this);
    QPalette palette = m_status->palette();
    palette.setColor(QPalette::WindowText, tdappearance::color(SystemColor::secondaryLabel, dark));
    m_status->setPalette(palette);
    SymbolPainter::setPixmap(m_warning, Symbol::exclamationmarkTriangleFill, statusIconSize,
        tdappearance::color(SystemColor::orange, dark));
}

void TDAddLinkPopover::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Closing the popover forgets what was typed in it.
    m_field->clear();
    showMessage(QString());
}

void TDAddLinkPopover::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}
