#include "app/screens/workspace/TDCoverImagePopover.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDProject.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDSpringGhost.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QStyleHints>
#include <QToolButton>
#include <QVBoxLayout>

using tdappearance::SystemColor;

namespace {

constexpr int removeSymbolSize = 32;
constexpr int addSymbolSize = 24;
// The springs the remove button comes and goes on, and a removed cover leaves on.
constexpr double hoverSpringResponse = 0.5;
constexpr double removalSpringResponse = 0.1;

} // namespace

// Rounds the tile's corners off by painting the popover's ground over them, above the image.
class TDCoverTileCorners : public QWidget {
public:
    explicit TDCoverTileCorners(QWidget* tile)
        : QWidget(tile)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        QPainterPath corners;
        corners.addRect(QRectF(rect()));
        QPainterPath rounded;
        rounded.addRoundedRect(
            QRectF(rect()), TDCoverImagePopover::tileRadius, TDCoverImagePopover::tileRadius);
        painter.fillPath(corners.subtracted(rounded),
            tdappearance::color(SystemColor::windowBackground, tdappearance::isDark(this)));
    }
};

TDCoverImagePopover::TDCoverImagePopover(std::shared_ptr<TDProject> project, std::function<void()> onAdd,
    std::function<void(const platform::Url&)> onRemove, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_project(std::move(project))
    , m_onAdd(std::move(onAdd))
    , m_onRemove(std::move(onRemove))
    , m_hoverSpring(hoverSpringResponse)
{
    setObjectName(QStringLiteral("coverImagePopover"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(spacing);
    m_caption = new QLabel(tdLocalized("Cover image:"), this);
    m_caption->setObjectName(QStringLiteral("coverImageCaption"));
    m_caption->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_caption);

    m_tile = new QWidget(this);
    m_tile->setObjectName(QStringLiteral("coverTile"));
    m_tile->setFixedSize(tileWidth, tileHeight);
    m_tile->setMouseTracking(true);
    m_tile->setAccessibleName(tdLocalized("Cover image:"));
    m_tile->installEventFilter(this);
    layout->addWidget(m_tile, 0, Qt::AlignHCenter);

    m_corners = new TDCoverTileCorners(m_tile);
    m_corners->setGeometry(m_tile->rect());

    m_add = new QToolButton(m_tile);
    m_add->setObjectName(QStringLiteral("addCoverButton"));
    m_add->setAccessibleName(tdLocalized("Choose a cover image"));
    m_add->setToolTip(tdLocalized("Choose a cover image"));
    m_add->setAutoRaise(true);
    m_add->setGeometry(m_tile->rect());
    m_add->setIconSize(QSize(addSymbolSize, addSymbolSize));
    connect(m_add, &QToolButton::clicked, this, [this] {
        if (m_onAdd)
            m_onAdd();
    });

    m_remove = new QToolButton(m_tile);
    m_remove->setObjectName(QStringLiteral("removeCoverButton"));
    m_remove->setAccessibleName(tdLocalized("Remove the cover image"));
    m_remove->setToolTip(tdLocalized("Remove the cover image"));
    m_remove->setGeometry(m_tile->rect());
    m_remove->setIconSize(QSize(removeSymbolSize, removeSymbolSize));
    m_remove->hide();
    // A double click on the remove button would land its second click on the add button that takes
    // its place, and ask for a new cover.
    m_remove->installEventFilter(this);
    m_add->installEventFilter(this);
    connect(m_remove, &QToolButton::clicked, this, [this] {
        if (m_shown && m_onRemove)
            m_onRemove(*m_shown);
    });
    applyColors();
    renderNow();
}

void TDCoverImagePopover::render()
{
    const auto stored = m_project->coverImageURL();
    // A cover removed while the popover shows it fades away over the "plus" tile.
    if (m_shown && !stored && isVisible())
        TDSpringGhost::fadeOut(m_tile->grab(), m_tile, m_tile->rect(), removalSpringResponse);
    // A file deleted or spoilt by another program after the last look leaves nothing to show: the
    // tile offers another cover, as the project's card shows its tile without one.
    const auto cover = m_coverView.show(stored, m_tile);
    m_shown = cover;
    // Without a pointer, the cover is reached with Tab.
    const bool tileHadFocus = m_tile->hasFocus();
    m_tile->setFocusPolicy(cover ? Qt::TabFocus : Qt::NoFocus);
    m_add->setVisible(!cover);
    if (!cover && tileHadFocus)
        m_add->setFocus(Qt::OtherFocusReason);
    m_remove->setVisible(cover && m_showCrossButton);
    m_coverView.place();
    m_corners->raise();
    m_remove->raise();
}

// The file may have gone since the last render: each opening looks again.
void TDCoverImagePopover::appeared()
{
    renderNow();
}

// The button comes and goes on a spring. It takes clicks only while the pointer is over the
// cover: when the pointer leaves it goes at once, and a picture of it fades out in its place.
void TDCoverImagePopover::setShowCrossButton(bool show)
{
    if (show == m_showCrossButton)
        return;
    m_showCrossButton = show;
    const bool visible = m_shown && show;
    if (!visible && m_remove->isVisible() && isVisible())
        TDSpringGhost::fadeOut(m_remove->grab(), m_tile, m_remove->geometry(), hoverSpringResponse);
    m_remove->setVisible(visible);
    if (!visible) {
        m_hoverSpring.finish();
        return;
    }
    auto* effect = new QGraphicsOpacityEffect(m_remove);
    effect->setOpacity(0);
    m_remove->setGraphicsEffect(effect);
    QPointer<QGraphicsOpacityEffect> fading(effect);
    m_hoverSpring.start(
        [fading](double progress) {
            if (fading)
                fading->setOpacity(progress);
        },
        [this, fading] {
            // Drawn plainly again once it is whole.
            if (fading && m_remove->graphicsEffect() == fading)
                m_remove->setGraphicsEffect(nullptr);
        });
}

bool TDCoverImagePopover::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if ((watched == m_remove || watched == m_add)
        && (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)) {
        const quint64 at = static_cast<QMouseEvent*>(event)->timestamp();
        if (watched == m_remove) {
            m_removePressedAt = at;
        } else if (m_removePressedAt && at >= *m_removePressedAt
            && at - *m_removePressedAt < quint64(QGuiApplication::styleHints()->mouseDoubleClickInterval())) {
            return true;
        }
    }
    if (watched == m_tile) {
        switch (event->type()) {
        case QEvent::Enter:
            setShowCrossButton(true);
            break;
        case QEvent::Leave:
            setShowCrossButton(m_keyboardFocus);
            break;
        case QEvent::FocusIn: {
            // Only a move of the user's: the popover hands its tile the focus back each time it opens.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            m_keyboardFocus = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
            if (m_keyboardFocus)
                setShowCrossButton(true);
            break;
        }
        case QEvent::FocusOut:
            m_keyboardFocus = false;
            setShowCrossButton(m_tile->underMouse());
            break;
        case QEvent::KeyPress:
            switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Delete:
            case Qt::Key_Backspace:
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                // The first key shows what the next one does; a held key only the first.
                if (static_cast<QKeyEvent*>(event)->isAutoRepeat())
                    return true;
                if (!m_showCrossButton) {
                    m_keyboardFocus = true;
                    setShowCrossButton(true);
                } else if (m_shown && m_onRemove) {
                    m_onRemove(*m_shown);
                }
                return true;
            default:
                break;
            }
            break;
        default:
            break;
        }
    }
    return platform::ObservedWidget::eventFilter(watched, event);
}

void TDCoverImagePopover::applyColors()
{
    const bool dark = tdappearance::isDark(this);
    QPalette palette = m_caption->palette();
    palette.setColor(QPalette::WindowText, tdappearance::color(SystemColor::tertiaryLabel, dark));
    m_caption->setPalette(palette);
    m_add->setIcon(SymbolPainter::icon(
        Symbol::plus, addSymbolSize, tdappearance::color(SystemColor::secondaryLabel, dark).toRgb()));
    m_remove->setIcon(SymbolPainter::icon(
        Symbol::minusCircleFill, removeSymbolSize, tdappearance::color(SystemColor::primaryLabel, dark)));
    // The ultra-thin material: a veil of the window's colour over the picture.
    QColor veil = tdappearance::color(SystemColor::windowBackground, dark);
    veil.setAlphaF(0.55f);
    m_remove->setStyleSheet(QStringLiteral("QToolButton { border: none; background: rgba(%1, %2, %3, %4); }")
                                .arg(veil.red())
                                .arg(veil.green())
                                .arg(veil.blue())
                                .arg(veil.alpha()));
    m_add->setStyleSheet(
        QStringLiteral("QToolButton { border: 1px solid rgba(%1, %1, %1, 40); border-radius: 4px; }")
            .arg(dark ? 255 : 0));
}

void TDCoverImagePopover::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
        m_corners->update();
    }
}
