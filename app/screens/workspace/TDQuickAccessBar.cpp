#include "app/screens/workspace/TDQuickAccessBar.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDProject.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDSpringAnimation.h"
#include "app/screens/common/TDSpringGhost.h"
#include "app/screens/workspace/TDPressableAccessible.h"
#include "app/store/TDLibrary.h"
#include "platform/foundation/Print.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <unordered_map>

using platform::Url;
using tdappearance::SystemColor;

namespace {

// Texts put into an alert: a name or a path of any length stays a few lines long.
QString forMessage(const QString& text)
{
    constexpr qsizetype keep = 60;
    return tdMiddleCut(tdDisplayText(text), keep);
}

bool hasMalformedEscape(const QString& text)
{
    auto isHex = [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('%'))
            continue;
        if (i + 2 >= text.size() || !isHex(text.at(i + 1)) || !isHex(text.at(i + 2)))
            return true;
        i += 2;
    }
    return false;
}

// One file or one folder, in one dialog: a directory chosen with the accept button is taken as
// the answer, while a double click still opens it. The desktop's own dialog cannot choose both,
// so Qt's is used.
class TDItemFileDialog : public QFileDialog {
public:
    explicit TDItemFileDialog(QWidget* parent)
        : QFileDialog(parent, tdLocalized("Add a file or folder"))
    {
        setObjectName(QStringLiteral("quickAccessFileDialog"));
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFile);
        setAcceptMode(QFileDialog::AcceptOpen);
        setLabelText(QFileDialog::Accept, tdLocalized("Add"));
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && QFileInfo(files.front()).isDir()) {
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

void pickItem(QWidget* parent, std::function<void(std::optional<QString>)> chosen)
{
    auto* dialog = new TDItemFileDialog(parent);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, chosen = std::move(chosen)](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty())
            chosen(QDir::cleanPath(files.front()));
        else
            chosen(std::nullopt);
    });
    dialog->open();
}

// The entries' strip: as wide as its entries where there is room, narrower (scrolled with the
// wheel) where there is not, so a long list never widens the window.
class TDQuickAccessStrip : public QScrollArea {
public:
    explicit TDQuickAccessStrip(QWidget* parent)
        : QScrollArea(parent)
    {
        setObjectName(QStringLiteral("quickAccessStrip"));
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
        viewport()->setAutoFillBackground(false);
        // The entries take the focus; the strip would be a stop showing nothing.
        setFocusPolicy(Qt::NoFocus);
    }

    QSize sizeHint() const override { return widget() ? widget()->sizeHint() : QSize(); }
    QSize minimumSizeHint() const override { return QSize(0, sizeHint().height()); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The entries changed their sizes (one added, a removed one closing up): so does the strip.
        if (watched == widget() && event->type() == QEvent::LayoutRequest)
            updateGeometry();
        return QScrollArea::eventFilter(watched, event);
    }
    void wheelEvent(QWheelEvent* event) override
    {
        const QPoint delta = event->angleDelta();
        const int step = delta.x() != 0 ? delta.x() : delta.y();
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - step / 4);
        event->accept();
    }
};

// The focus ring is drawn for focus the keyboard moved, not for focus that landed on a widget
// because another one went away.
bool isKeyboardFocus(const QFocusEvent* event)
{
    return event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason
        || event->reason() == Qt::ShortcutFocusReason;
}

QIcon themedIcon(const QStringList& names)
{
    for (const QString& name : names) {
        if (!name.isEmpty() && QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return QIcon();
}

} // namespace

std::optional<QString> tdQuickAccessName(const Url& url)
{
    if (!url.isValid())
        return std::nullopt;
    QString text = url.absoluteString();
    while (text.endsWith(QLatin1Char('/')) && !text.endsWith(QLatin1String("//")))
        text.chop(1);
    if (url.isFileUrl() && QDir::cleanPath(url.path()) == QLatin1String("/"))
        return QStringLiteral("/");
    const QString component = text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
    if (hasMalformedEscape(component))
        return std::nullopt;
    return QUrl::fromPercentEncoding(component.toUtf8());
}

std::optional<QIcon> tdQuickAccessIcon(const Url& url)
{
    if (!url.isFileUrl())
        return std::nullopt;
    const QString path = url.path();
    // Metadata only: the kind of a file is told by its name, never by reading it.
    const QFileInfo info(path);
    if (!info.exists()) {
        platform::print(QStringLiteral("File does not exist at path: ") + path);
        return std::nullopt;
    }
    QStyle* style = QApplication::style();
    if (info.isDir()) {
        QIcon themed = themedIcon({ QStringLiteral("folder") });
        return themed.isNull() ? style->standardIcon(QStyle::SP_DirIcon) : themed;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    QIcon themed = themedIcon({ type.iconName(), type.genericIconName(), QStringLiteral("text-x-generic") });
    return themed.isNull() ? style->standardIcon(QStyle::SP_FileIcon) : themed;
}

TDQuickAccessEntry::TDQuickAccessEntry(Url url, QWidget* parent)
    : QWidget(parent)
    , m_url(std::move(url))
{
    setObjectName(QStringLiteral("quickAccessEntry"));
    setFocusPolicy(Qt::TabFocus);
    tdpressable::mark(this);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFont(tdappearance::systemFont(nameFontSize));
    m_name = tdDisplayText(tdQuickAccessName(m_url).value_or(QString()));
    if (auto icon = tdQuickAccessIcon(m_url))
        m_icon = *icon;
    setToolTip(tdToolTipText(m_url.isFileUrl() ? m_url.path() : m_url.absoluteString()));
    setAccessibleName(m_name);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    m_deleteAction = new QAction(tdLocalized("Delete"), this);
    m_deleteAction->setObjectName(QStringLiteral("deleteQuickAccessAction"));
    addAction(m_deleteAction);
}

void TDQuickAccessEntry::setShowsSeparator(bool shows)
{
    if (shows == m_showsSeparator)
        return;
    m_showsSeparator = shows;
    updateGeometry();
    update();
}

int TDQuickAccessEntry::nameWidth() const
{
    if (m_name.isEmpty())
        return 0;
    // Room for the last glyph's overhang.
    return std::min(fontMetrics().horizontalAdvance(m_name) + 1, nameMaximumWidth);
}

QSize TDQuickAccessEntry::sizeHint() const
{
    const int lead = hasIcon() ? iconHorizontalPadding * 2 + iconSize : iconHorizontalPadding;
    int width = lead + nameWidth() + iconHorizontalPadding;
    if (m_showsSeparator)
        width += separatorPadding - iconHorizontalPadding + 1;
    return QSize(width, iconSize + 2 * iconVerticalPadding);
}

void TDQuickAccessEntry::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool dark = tdappearance::isDark(this);
    // Laid out from the leading edge: mirrored right to left, the icon leads and the line still
    // falls between this entry and the next.
    auto visual
        = [this](const QRect& logical) { return QStyle::visualRect(layoutDirection(), rect(), logical); };
    const int separatorWidth = m_showsSeparator ? separatorPadding + 1 - iconHorizontalPadding : 0;
    const QRectF body = visual(rect().adjusted(0, 0, -separatorWidth, 0));
    if (m_pressed || m_hovered) {
        QPainterPath shape;
        shape.addRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        painter.fillPath(shape,
            tdappearance::color(m_pressed ? SystemColor::secondaryFill : SystemColor::tertiaryFill, dark));
    }
    int x = iconHorizontalPadding;
    if (hasIcon()) {
        m_icon.paint(&painter, visual(QRect(x, (height() - iconSize) / 2, iconSize, iconSize)));
        x += iconSize + iconHorizontalPadding;
    }
    if (!m_name.isEmpty()) {
        painter.setPen(tdappearance::color(SystemColor::primaryLabel, dark));
        const QString shown = fontMetrics().elidedText(m_name, Qt::ElideMiddle, nameMaximumWidth);
        painter.drawText(
            visual(QRect(x, 0, nameWidth() + 2, height())), Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
    if (m_showsSeparator) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.fillRect(visual(QRect(width() - 1, separatorPadding, 1, height() - 2 * separatorPadding)),
            tdappearance::color(SystemColor::separator, dark).darker(dark ? 100 : 150));
    }
    if (hasFocus() && m_showsFocus) {
        painter.setPen(QPen(tdfocusring::color(this), tdfocusring::lineWidth));
        painter.drawRoundedRect(body.adjusted(1, 1, -1, -1), 4, 4);
    }
}

void TDQuickAccessEntry::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        update();
    }
    m_click.press(event);
    QWidget::mousePressEvent(event);
}

void TDQuickAccessEntry::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasPressed = m_pressed;
    m_pressed = false;
    update();
    if (event->button() == Qt::LeftButton && wasPressed && rect().contains(event->position().toPoint())) {
        event->accept();
        if (m_click.release(true) && m_onOpen)
            m_onOpen();
        return;
    }
    if (event->button() == Qt::LeftButton)
        m_click.release(false);
    QWidget::mouseReleaseEvent(event);
}

void TDQuickAccessEntry::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // A held key opens the item once, not once per repeat.
        if (m_onOpen && !event->isAutoRepeat())
            m_onOpen();
        return;
    }
    if (tdfocusring::opensMenu(event)) {
        tdfocusring::showActionsMenu(this);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TDQuickAccessEntry::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QWidget::enterEvent(event);
}

void TDQuickAccessEntry::leaveEvent(QEvent* event)
{
    m_hovered = false;
    m_pressed = false;
    update();
    QWidget::leaveEvent(event);
}

void TDQuickAccessEntry::focusInEvent(QFocusEvent* event)
{
    m_showsFocus = isKeyboardFocus(event);
    QWidget::focusInEvent(event);
    // An entry reached with Tab beyond the strip's width scrolls into view.
    for (QWidget* up = parentWidget(); up; up = up->parentWidget()) {
        if (auto* strip = qobject_cast<QScrollArea*>(up)) {
            strip->ensureWidgetVisible(this, 0, 0);
            break;
        }
    }
}

TDQuickAccessAddButton::TDQuickAccessAddButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setObjectName(QStringLiteral("quickAccessAddButton"));
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFont(tdappearance::systemFont(plusSize));
    setToolTip(tdLocalized("Add a file or folder"));
    setAccessibleName(tdLocalized("Add a file or folder"));
}

QSize TDQuickAccessAddButton::sizeHint() const
{
    return QSize(buttonWidth, fontMetrics().height() + 2 * verticalPadding);
}

void TDQuickAccessAddButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setOpacity(drawnOpacity());
    const bool dark = tdappearance::isDark(this);
    const QColor ink = tdappearance::color(SystemColor::primaryLabel, dark);
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    if (isEnabled() && (m_hovered || isDown())) {
        QPainterPath shape;
        shape.addRoundedRect(outline, 2, 2);
        painter.fillPath(shape,
            tdappearance::color(isDown() ? SystemColor::secondaryFill : SystemColor::tertiaryFill, dark));
    }
    QColor dashes = ink;
    dashes.setAlphaF(dashes.alphaF() * 0.4f);
    QPen pen(dashes, 1, Qt::CustomDashLine, Qt::RoundCap, Qt::MiterJoin);
    pen.setDashPattern({ 2, 2, 2, 2 });
    painter.setPen(pen);
    painter.drawRoundedRect(outline, 2, 2);
    const QRectF plus((width() - plusSize) / 2.0, (height() - plusSize) / 2.0, plusSize, plusSize);
    SymbolPainter::paint(painter, Symbol::plus, plus, ink);
    if (hasFocus() && m_showsFocus) {
        painter.setPen(QPen(tdfocusring::color(this), tdfocusring::lineWidth));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 2, 2);
    }
}

void TDQuickAccessAddButton::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TDQuickAccessAddButton::leaveEvent(QEvent* event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void TDQuickAccessAddButton::focusInEvent(QFocusEvent* event)
{
    m_showsFocus = isKeyboardFocus(event);
    QAbstractButton::focusInEvent(event);
}

TDQuickAccessBar::TDQuickAccessBar(std::shared_ptr<TDProject> project, TDLibrary& library, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_project(std::move(project))
    , m_library(library)
    , m_itemPicker(pickItem)
{
    setObjectName(QStringLiteral("quickAccess"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    // One more pixel at the bottom for the hairline under the bar.
    layout->setContentsMargins(horizontalMargin, verticalMargin, horizontalMargin, verticalMargin + 1);
    layout->setSpacing(barSpacing);

    m_strip = new TDQuickAccessStrip(this);
    m_entriesRow = new QWidget(m_strip);
    m_entriesRow->setObjectName(QStringLiteral("quickAccessEntries"));
    m_entriesLayout = new QHBoxLayout(m_entriesRow);
    m_entriesLayout->setContentsMargins(0, 0, 0, 0);
    m_entriesLayout->setSpacing(entrySpacing);
    m_entriesLayout->setSizeConstraint(QLayout::SetMinimumSize);
    m_strip->setWidget(m_entriesRow);
    // The bar's own ground shows through, whatever colour the palette gives a scroll area's content.
    m_entriesRow->setAutoFillBackground(false);
    m_strip->setFixedHeight(TDQuickAccessEntry::iconSize + 2 * TDQuickAccessEntry::iconVerticalPadding);
    layout->addWidget(m_strip);

    m_addButton = new TDQuickAccessAddButton(this);
    connect(m_addButton, &QAbstractButton::clicked, this, [this] { openFileImporter(); });
    layout->addWidget(m_addButton, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    renderNow();
}

void TDQuickAccessBar::render()
{
    const auto urls = m_project->quickAccessURL();
    // An entry is known by its URL and which of the equal ones it is, so removing one URL keeps
    // the entries of the others.
    std::vector<std::string> keys;
    std::unordered_map<std::string, std::size_t> positions;
    QHash<QString, int> seen;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        const QString text = urls[i].absoluteString();
        std::string key = (text + QLatin1Char('\n') + QString::number(seen[text]++)).toStdString();
        positions.emplace(key, i);
        keys.push_back(std::move(key));
    }

    struct Leaving {
        QPixmap picture;
        int index;
    };
    std::vector<Leaving> leaving;
    int kept = 0;
    for (TDQuickAccessEntry* entry : m_entries.widgets()) {
        if (std::find(urls.begin(), urls.end(), entry->url()) != urls.end()) {
            ++kept;
            continue;
        }
        if (m_expectedRemovals.contains(entry->url().absoluteString()) && entry->isVisible())
            leaving.push_back({ entry->grab(), kept });
    }
    m_expectedRemovals.clear();
    // Enabled before a removed entry is hidden: the keys that entry held pass on to the next stop,
    // which after the last entry is this button.
    const bool full = static_cast<int>(urls.size()) > addLimit;
    if (!full)
        platform::setEnabledIfChanged(m_addButton, true);

    QPointer<TDQuickAccessBar> self(this);
    m_entries.reconcile(
        keys,
        [&](const std::string& key) {
            const Url url = urls[positions.at(key)];
            auto* entry = new TDQuickAccessEntry(url, m_entriesRow);
            entry->setOnOpen([self, url] {
                if (self)
                    self->openQuickAccessURL(url);
            });
            connect(entry->deleteAction(), &QAction::triggered, this, [self, url] {
                if (self)
                    self->removeQuickAccessURL(url);
            });
            entry->show();
            return entry;
        },
        [&](TDQuickAccessEntry* entry, const std::string& key) {
            // By position: of two equal URLs at the end, only the last goes without a line.
            entry->setShowsSeparator(positions.at(key) + 1 < urls.size());
        });
    m_entries.arrange(m_entriesLayout);
    const auto entries = m_entries.widgets();
    std::vector<QWidget*> stops(entries.begin(), entries.end());
    stops.push_back(m_addButton);
    tdfocusring::orderTabStops(this, stops);
    if (full && m_addButton->isEnabled()) {
        // The entry just added takes the keys of the button it disables, rather than the next
        // stop outside the bar.
        if (m_addButton->hasFocus() && !entries.empty())
            entries.back()->setFocus(Qt::BacktabFocusReason);
        m_addButton->setEnabled(false);
    }
    for (auto it = leaving.rbegin(); it != leaving.rend(); ++it)
        // The entries after it slide over instead of jumping.
        TDSpringGhost::collapse(it->picture, m_entriesLayout, it->index, removalSpringResponse)
            ->setObjectName(QStringLiteral("quickAccessGhost"));
    platform::setVisibleIfChanged(m_strip, !urls.empty() || !leaving.empty());
    // A greyed "+" that still offered to add would leave the user guessing what is wrong.
    const QString why = full ? tdLocalized("The bar is full. Delete an entry to add another.") : QString();
    m_addButton->setToolTip(full ? why : tdLocalized("Add a file or folder"));
    m_addButton->setAccessibleDescription(why);
    m_addButton->update();
}

void TDQuickAccessBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = tdappearance::isDark(this);
    painter.fillRect(rect(), tdappearance::color(SystemColor::windowBackground, dark));
    painter.fillRect(QRect(0, height() - 1, width(), 1), tdappearance::color(SystemColor::separator, dark));
}

void TDQuickAccessBar::openFileImporter()
{
    if (m_openFileImporter || !m_addButton->isEnabled())
        return;
    m_openFileImporter = true;
    QPointer<TDQuickAccessBar> self(this);
    m_itemPicker(window(), [self](std::optional<QString> path) {
        if (!self)
            return;
        self->m_openFileImporter = false;
        if (path)
            self->addQuickAccessItem(*path);
    });
}

void TDQuickAccessBar::addQuickAccessItem(const QString& path)
{
    const Url url = Url::fileUrl(path);
    QPointer<TDQuickAccessBar> self(this);
    m_library.addQuickAccessURL(m_project, url, [self](auto added) {
        if (!added && self)
            self->showAlert(added.error().title, added.error().message);
    });
    // The new entry, last in the strip, is scrolled into view once it is laid out.
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self || self->m_entries.size() == 0)
                return;
            self->m_strip->ensureWidgetVisible(self->m_entries.widgets().back(), 0, 0);
        },
        Qt::QueuedConnection);
}

void TDQuickAccessBar::openQuickAccessURL(const Url& url)
{
    const QString name = forMessage(tdQuickAccessName(url).value_or(url.absoluteString()));
    if (!url.isFileUrl()) {
        showAlert(tdLocalized("The item cannot be opened."),
            tdLocalized("“%1” is not a file or folder on this computer. Only files and folders are opened "
                        "from the quick-access bar.")
                .arg(name));
        return;
    }
    const QString path = url.path();
    if (!QFileInfo::exists(path)) {
        platform::print(QStringLiteral("File does not exist at path: ") + path);
        showAlert(tdLocalized("The item is no longer there."),
            tdLocalized("“%1” could not be found at %2. It may have been moved, renamed or deleted. Its "
                        "entry stays until you remove it with “Delete” in its menu.")
                .arg(name, forMessage(path)));
        return;
    }
    if (!QDesktopServices::openUrl(url.qUrl()))
        showAlert(tdLocalized("The item could not be opened."),
            tdLocalized("No application could be started to open “%1”.").arg(name));
}

void TDQuickAccessBar::removeQuickAccessURL(const Url& url)
{
    m_expectedRemovals.insert(url.absoluteString());
    QPointer<TDQuickAccessBar> self(this);
    m_library.removeQuickAccessURL(m_project, url, [self](auto removed) {
        if (!removed && self)
            self->showAlert(removed.error().title, removed.error().message);
    });
}

void TDQuickAccessBar::showAlert(const QString& title, const QString& message)
{
    if (m_alert)
        return;
    m_alert = presentTDAlert(window(), title, message);
}
