#include "app/screens/workspace/TDImageGridSettings.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDProject.h"
#include "app/screens/common/TDAppearance.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

using ContentMode = TDImageGrid::ContentMode;
using tdappearance::SystemColor;

namespace {

QLabel* label(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// One half of the two-button switch: the button that is on is filled with the accent colour, so
// which one is on reads at a glance in either appearance.
class TDSegmentButton : public QPushButton {
public:
    enum class Edge { leading, trailing };

    TDSegmentButton(const QString& title, const char* name, Edge edge, QWidget* parent)
        : QPushButton(title, parent)
        , m_edge(edge)
    {
        setObjectName(QLatin1String(name));
        setCheckable(true);
        setAutoDefault(false);
        setFocusPolicy(Qt::TabFocus);
        setFont(tdappearance::systemFont(13));
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return QSize(std::max(56, metrics.horizontalAdvance(text()) + 28), metrics.height() + 10);
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        const bool dark = tdappearance::isDark(this);
        const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        constexpr double radius = 5;
        // Rounded on the group's outer edge only, which right to left is the other side.
        const bool roundedLeft = (m_edge == Edge::leading) != isRightToLeft();
        QPainterPath shape;
        shape.addRoundedRect(frame, radius, radius);
        QPainterPath square;
        square.addRect(roundedLeft ? frame.adjusted(frame.width() / 2, 0, 0, 0)
                                   : frame.adjusted(0, 0, -frame.width() / 2, 0));
        shape = shape.united(square);
        QColor fill = isChecked() ? tdappearance::color(SystemColor::selectedContentBackground, dark)
                                  : tdappearance::color(SystemColor::controlBackground, dark);
        painter.fillPath(shape, fill);
        if (isDown() && !isChecked())
            painter.fillPath(shape, tdappearance::color(SystemColor::secondaryFill, dark));
        painter.strokePath(shape, QPen(tdappearance::color(SystemColor::separator, dark), 1));
        if (hasFocus())
            painter.strokePath(shape, QPen(tdappearance::color(SystemColor::blue, dark), 2));
        painter.setPen(
            isChecked() ? QColor(Qt::white) : tdappearance::color(SystemColor::primaryLabel, dark));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    Edge m_edge;
};

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
    auto choose = [this](int value) {
        if (m_project->imageColumnCount() == value)
            return;
        m_project->setImageColumnCount(value);
        if (m_saveColumnCount)
            m_saveColumnCount();
    };
    connect(m_slider, &QSlider::valueChanged, this, choose);
    // A count beyond the range (an edited library file) shows at the nearest end, where a move
    // against that end changes no value: the user still chose that end.
    connect(
        m_slider, &QSlider::actionTriggered, this, [this, choose] { choose(m_slider->sliderPosition()); });

    auto* present = new QHBoxLayout;
    present->setSpacing(0);
    present->addWidget(label(tdLocalized("Present mode: "), this));
    present->addSpacing(6);
    auto* fit = new TDSegmentButton(tdLocalized("Fit"), "fitButton", TDSegmentButton::Edge::leading, this);
    auto* fill
        = new TDSegmentButton(tdLocalized("Fill"), "fillButton", TDSegmentButton::Edge::trailing, this);
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
