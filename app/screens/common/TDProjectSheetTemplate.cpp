#include "app/screens/common/TDProjectSheetTemplate.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDCategory.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDGroupedBox.h"
#include "app/screens/common/TDLocalDay.h"
#include "app/screens/common/TDPrimaryButton.h"
#include "app/store/TDCategoryStore.h"
#include "platform/ui/ObservedWidgetUpdates.h"

#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimeZone>
#include <QVBoxLayout>

#include <cmath>
#include <optional>

namespace {

// Milliseconds since 1970; none for a date too far off to show (a library file can hold any number).
std::optional<qint64> unixMilliseconds(platform::Date date)
{
    const double ms = std::floor(date.timeIntervalSince1970() * 1000);
    if (!(std::abs(ms) < 6e18))
        return std::nullopt;
    return static_cast<qint64>(ms);
}

QString dateFormat()
{
    QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

} // namespace

TDProjectSheetTemplate::TDProjectSheetTemplate(TDStores stores,
    TDBinding<std::shared_ptr<TDCategory>> selectedCategory, TDBinding<QString> name,
    TDBinding<platform::Date> date, std::function<void()> dismiss, std::function<void()> primaryAction,
    QString primaryActionButtonLabel, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_stores(std::move(stores))
    , m_selectedCategory(std::move(selectedCategory))
    , m_nameBinding(std::move(name))
    , m_dateBinding(std::move(date))
    , m_dismiss(std::move(dismiss))
    , m_primaryAction(std::move(primaryAction))
{
    setObjectName(QStringLiteral("projectSheetForm"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* formArea = new QVBoxLayout;
    formArea->setContentsMargins(20, 20, 20, 12);
    auto* group = new TDGroupedBox(this);
    m_group = group;

    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("projectNameField"));
    m_name->setPlaceholderText(tdLocalized("Project name"));
    m_name->setAccessibleName(tdLocalized("Project name"));
    m_name->setFrame(false);
    m_name->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
    tdKeepOnOneLine(m_name);
    connect(m_name, &QLineEdit::textEdited, this, [this](const QString& text) { m_nameBinding.set(text); });
    group->addRow(tdLocalized("Project name"), m_name, TDGroupedBox::Width::expanding);

    m_date = new QDateEdit(this);
    m_date->setObjectName(QStringLiteral("startDateField"));
    m_date->setAccessibleName(tdLocalized("Start date"));
    m_date->setCalendarPopup(true);
    m_date->setDisplayFormat(dateFormat());
    tdAllowEarlyDays(m_date);
    m_date->setMinimumWidth(130);
    connect(m_date, &QDateEdit::dateChanged, this, [this](const QDate& day) {
        platform::Date current = m_dateBinding.get();
        if (day.isValid() && day != tdLocalDay(current))
            m_dateBinding.set(movedToDay(current, day));
    });
    group->addRow(tdLocalized("Date"), m_date);

    m_category = new TDElidedComboBox(this);
    m_category->setObjectName(QStringLiteral("categoryPicker"));
    m_category->setAccessibleName(tdLocalized("Category"));
    // Screen readers on Linux name a list box by its choice: the row's label (its buddy) and this
    // say what the choice is of.
    m_category->setAccessibleDescription(tdLocalized("Category"));
    m_category->setMinimumWidth(150);
    m_category->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(m_category, &QComboBox::activated, this, [this](int index) {
        auto id = platform::Uuid::fromString(m_category->itemData(index).toString());
        if (!id)
            return;
        for (const auto& category : m_stores.categoryStore->tdCategories()) {
            if (category->id() == *id) {
                m_selectedCategory.set(category);
                return;
            }
        }
    });
    group->addRow(tdLocalized("Category"), m_category)->setBuddy(m_category);
    formArea->addWidget(group);
    layout->addLayout(formArea);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(buttonRowSides, buttonRowTop, buttonRowSides, buttonRowBottom);
    m_cancel = makeTDSheetButton(tdLocalized("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_dismiss)
            m_dismiss();
    });
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    // The label is the sheet's own text, shown as given.
    m_primary = new TDPrimaryButton(primaryActionButtonLabel, this);
    m_primary->setObjectName(QStringLiteral("primaryButton"));
    connect(m_primary, &QPushButton::clicked, this, [this] {
        if (m_primaryAction)
            m_primaryAction();
    });
    buttons->addWidget(m_primary);
    layout->addLayout(buttons);
    applyStyle();
    renderNow();
}

platform::Date TDProjectSheetTemplate::movedToDay(platform::Date date, const QDate& day)
{
    auto ms = unixMilliseconds(date);
    if (!ms)
        return platform::Date::fromUnixSeconds(day.startOfDay().toMSecsSinceEpoch() / 1000.0);
    double belowMillisecond = date.timeIntervalSince1970() - *ms / 1000.0;
    const QTime time = QDateTime::fromMSecsSinceEpoch(*ms, Qt::LocalTime).time();
    qint64 moved = QDateTime(day, time, Qt::LocalTime).toMSecsSinceEpoch();
    const QDateTime landed = QDateTime::fromMSecsSinceEpoch(moved, Qt::LocalTime);
    if (landed.date() != day) {
        // A clock change skipped that time at the end of the day, and reading it forward lands on
        // the next day: read it with the offset from after the change, as much earlier, so the day
        // stays the one chosen. A day skipped whole keeps the next one.
        const qint64 earlier
            = QDateTime(day, time, Qt::OffsetFromUTC, landed.offsetFromUtc()).toMSecsSinceEpoch();
        if (QDateTime::fromMSecsSinceEpoch(earlier, Qt::LocalTime).date() == day)
            moved = earlier;
    }
    return platform::Date::fromUnixSeconds(moved / 1000.0 + belowMillisecond);
}

void TDProjectSheetTemplate::render()
{
    std::vector<platform::ComboItem> items;
    for (const auto& category : m_stores.categoryStore->tdCategories())
        items.push_back({ category->id().uuidString(), tdDisplayText(category->name()) });
    // The entry of the bound category's id; none when it has left the list (the binding keeps it).
    auto bound = m_selectedCategory.get ? m_selectedCategory.get() : nullptr;
    platform::syncCombo(m_category, items, bound ? bound->id().uuidString() : QString());

    platform::setTextIfChanged(m_name, m_nameBinding.get());
    QDate day = tdLocalDay(m_dateBinding.get());
    if (m_date->date() != day) {
        const QSignalBlocker blockDate(m_date);
        m_date->setDate(day);
    }
}

void TDProjectSheetTemplate::applyStyle()
{
    QPalette palette = m_name->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    m_name->setPalette(palette);
}

void TDProjectSheetTemplate::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyStyle();
}
