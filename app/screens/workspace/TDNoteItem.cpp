#include "app/screens/workspace/TDNoteItem.h"

#include "app/model/TDNote.h"
#include "app/model/TDProject.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDListCard.h"
#include "app/screens/common/TDLocalDay.h"
#include "app/screens/workspace/TDPressableAccessible.h"
#include "app/store/TDLibrary.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using tdappearance::SystemColor;

namespace {

// Room around the card for its shadow.
constexpr int shadowMargin = 1;

// As wide as the widest day and month the locale writes, so every row's title starts at the same
// place whatever its date. Measured once per locale and font, as every row asks the same.
int dateColumnWidth(const QFont& dayFont, const QFont& monthFont)
{
    static QHash<QString, int> widths;
    const QLocale locale;
    const QString key = locale.name() + u'\n' + dayFont.key() + u'\n' + monthFont.key();
    if (const auto found = widths.constFind(key); found != widths.constEnd())
        return *found;
    // Measured as a label measures its text.
    auto width = [](const QFont& font, const QString& text) {
        return QFontMetrics(font).boundingRect(QRect(), Qt::AlignCenter, text).width();
    };
    int widest = 0;
    for (int day = 1; day <= 31; ++day)
        widest = std::max(widest, width(dayFont, locale.toString(QDate(2000, 1, day), QStringLiteral("dd"))));
    for (int month = 1; month <= 12; ++month)
        widest = std::max(widest, width(monthFont, locale.standaloneMonthName(month, QLocale::ShortFormat)));
    widths.insert(key, widest);
    return widest;
}

} // namespace

TDNoteItem::TDNoteItem(
    std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project, TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_note(std::move(note))
    , m_project(std::move(project))
    , m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("noteItem"));
    setFocusPolicy(Qt::TabFocus);
    tdpressable::mark(this);
    tdfocusring::attach(this, tdlistcard::cornerRadius + 1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(tdlistcard::horizontalPadding + shadowMargin,
        tdlistcard::verticalPadding + shadowMargin, tdlistcard::horizontalPadding + shadowMargin,
        tdlistcard::verticalPadding + shadowMargin);
    layout->setSpacing(contentSpacing);

    auto* date = new QVBoxLayout;
    date->setSpacing(0);
    m_day = new QLabel(this);
    m_day->setObjectName(QStringLiteral("noteDay"));
    m_day->setFont(tdappearance::systemFont(dayFontSize, QFont::Thin));
    m_day->setAlignment(Qt::AlignCenter);
    date->addWidget(m_day);
    m_month = new QLabel(this);
    m_month->setObjectName(QStringLiteral("noteMonth"));
    m_month->setFont(tdappearance::systemFont(monthFontSize, QFont::Medium));
    m_month->setAlignment(Qt::AlignCenter);
    date->addWidget(m_month);
    const int dateWidth = dateColumnWidth(m_day->font(), m_month->font());
    m_day->setMinimumWidth(dateWidth);
    m_month->setMinimumWidth(dateWidth);
    layout->addLayout(date);

    m_divider = new QWidget(this);
    m_divider->setObjectName(QStringLiteral("noteDivider"));
    m_divider->setFixedWidth(1);
    m_divider->setAutoFillBackground(true);
    auto* dividerBox = new QVBoxLayout;
    dividerBox->setContentsMargins(0, dividerPadding, 0, dividerPadding);
    dividerBox->addWidget(m_divider);
    layout->addLayout(dividerBox);

    m_title = new TDElidedLabel(this);
    m_title->setObjectName(QStringLiteral("noteTitle"));
    m_title->setFont(tdappearance::systemFont(titleFontSize, QFont::Light));
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    layout->addWidget(m_title, 1);
    applyColors();
    renderNow();
}

bool TDNoteItem::showsDay(platform::Date date)
{
    // Every date within some thousands of years has a day; only the others are worked out.
    constexpr double surelyShownSeconds = 1e11;
    return std::abs(date.timeIntervalSinceReferenceDate()) < surelyShownSeconds || tdLocalDay(date).isValid();
}

QString TDNoteItem::dayText() const
{
    return m_day->text();
}

QString TDNoteItem::monthText() const
{
    return m_month->text();
}

QString TDNoteItem::titleText() const
{
    return m_title->fullText();
}

void TDNoteItem::render()
{
    QDate day = tdLocalDay(m_note->date());
    QLocale locale;
    if (day.isValid()) {
        m_day->setText(locale.toString(day, QStringLiteral("dd")));
        // The stand-alone form: the month named on its own, not inside a date.
        m_month->setText(locale.standaloneMonthName(day.month(), QLocale::ShortFormat));
    } else {
        // Cleared, not given an empty text: a label that once held text and now holds an empty one
        // stands a pixel higher than one that never held any, and the list gives every row without
        // a day one height.
        m_day->clear();
        m_month->clear();
    }
    m_title->setFullText(m_note->title());
    // Read out as the row shows it: the title, then the date.
    setAccessibleName(day.isValid()
            ? m_title->fullText() + QStringLiteral(", ") + locale.toString(day, QLocale::LongFormat)
            : m_title->fullText());
}

void TDNoteItem::openNote()
{
    if (!TDLibrary(m_stores).recordNoteOpened(m_project, m_note))
        return;
    if (m_stores.noteWindows && m_stores.noteWindows->openWindow)
        m_stores.noteWindows->openWindow(m_note);
}

void TDNoteItem::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    tdlistcard::paint(painter,
        QRectF(rect()).adjusted(shadowMargin, shadowMargin, -shadowMargin, -shadowMargin - 0.5),
        tdappearance::isDark(this));
}

void TDNoteItem::mousePressEvent(QMouseEvent* event)
{
    m_click.press(event);
    platform::ObservedWidget::mousePressEvent(event);
}

void TDNoteItem::mouseReleaseEvent(QMouseEvent* event)
{
    const bool inside = rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton && inside) {
        event->accept();
        if (m_click.release(inside))
            openNote();
        return;
    }
    if (event->button() == Qt::LeftButton)
        m_click.release(false);
    platform::ObservedWidget::mouseReleaseEvent(event);
}

void TDNoteItem::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        openNote();
        return;
    }
    if (tdfocusring::opensMenu(event)) {
        tdfocusring::showActionsMenu(this);
        return;
    }
    platform::ObservedWidget::keyPressEvent(event);
}

void TDNoteItem::applyColors()
{
    const bool dark = tdappearance::isDark(this);
    auto recolor = [](QWidget* widget, QPalette::ColorRole role, const QColor& color) {
        QPalette palette = widget->palette();
        palette.setColor(role, color);
        widget->setPalette(palette);
    };
    recolor(m_day, QPalette::WindowText, tdappearance::color(SystemColor::primaryLabel, dark));
    recolor(m_month, QPalette::WindowText, tdappearance::color(SystemColor::secondaryLabel, dark));
    recolor(m_title, QPalette::WindowText, tdappearance::color(SystemColor::primaryLabel, dark));
    recolor(m_divider, QPalette::Window, tdappearance::color(SystemColor::separator, dark));
}

void TDNoteItem::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}
