#include "app/screens/workspace/TDImageGridSettings.h"

#include "app/model/TDProject.h"
#include "app/screens/common/TDLocalizedText.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

using ContentMode = TDImageGrid::ContentMode;

namespace {

QLabel* label(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// One half of the two-button switch.
QPushButton* modeButton(const QString& title, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    button->setObjectName(QLatin1String(name));
    button->setCheckable(true);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    button->setMinimumWidth(56);
    return button;
}

} // namespace

TDImageGridSettings::TDImageGridSettings(std::shared_ptr<TDProject> project,
    TDBinding<ContentMode> contentMode, std::function<void()> saveColumnCount, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_project(std::move(project))
    , m_contentMode(std::move(contentMode))
    , m_saveColumnCount(std::move(saveColumnCount))
{
    setObjectName(QStringLiteral("imageGridSettings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    layout->setSpacing(spacing);

    auto* columns = new QHBoxLayout;
    columns->setSpacing(6);
    columns->addWidget(label(tdLocalized("Columns: "), this));
    columns->addWidget(label(QStringLiteral("%1").arg(minimumColumns), this));
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("columnSlider"));
    m_slider->setRange(minimumColumns, maximumColumns);
    m_slider->setSingleStep(1);
    m_slider->setPageStep(1);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setTickInterval(1);
    m_slider->setFixedWidth(sliderWidth);
    m_slider->setAccessibleName(tdLocalized("Columns: ").trimmed());
    columns->addWidget(m_slider);
    columns->addWidget(label(QStringLiteral("%1").arg(maximumColumns), this));
    layout->addLayout(columns);
    // Renders set the slider with its signals blocked, so only the user's moves write and save.
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        if (m_project->imageColumnCount() == value)
            return;
        m_project->setImageColumnCount(value);
        if (m_saveColumnCount)
            m_saveColumnCount();
    });

    auto* present = new QHBoxLayout;
    present->setSpacing(0);
    present->addWidget(label(tdLocalized("Present mode: "), this));
    present->addSpacing(6);
    auto* fit = modeButton(tdLocalized("Fit"), "fitButton", this);
    auto* fill = modeButton(tdLocalized("Fill"), "fillButton", this);
    present->addWidget(fit);
    present->addWidget(fill);
    present->addStretch(1);
    layout->addLayout(present);
    // Exclusive: a click on the button already on leaves it on.
    m_modes = new QButtonGroup(this);
    m_modes->setExclusive(true);
    m_modes->addButton(fit, int(ContentMode::fit));
    m_modes->addButton(fill, int(ContentMode::fill));
    connect(m_modes, &QButtonGroup::idClicked, this, [this](int id) {
        if (m_contentMode.set)
            m_contentMode.set(ContentMode(id));
        showContentMode();
    });
    showContentMode();
    renderNow();
}

QAbstractButton* TDImageGridSettings::fitButton() const
{
    return m_modes->button(int(ContentMode::fit));
}

QAbstractButton* TDImageGridSettings::fillButton() const
{
    return m_modes->button(int(ContentMode::fill));
}

void TDImageGridSettings::showContentMode()
{
    const ContentMode mode = m_contentMode.get ? m_contentMode.get() : ContentMode::fill;
    if (QAbstractButton* button = m_modes->button(int(mode)))
        button->setChecked(true);
}

void TDImageGridSettings::render()
{
    const double count = m_project->imageColumnCount();
    const QSignalBlocker blocker(m_slider);
    m_slider->setValue(std::isfinite(count)
            ? int(std::clamp(count, double(minimumColumns), double(maximumColumns)))
            : maximumColumns);
}
