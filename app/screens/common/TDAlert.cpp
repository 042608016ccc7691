#include "app/screens/common/TDAlert.h"

#include "app/TDLocalizedText.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "platform/ui/ScreenRatioWatcher.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace {

constexpr int iconSize = 48;
// Wide enough for a title on one line and a message of two or three.
constexpr int textWidth = 340;

// The desktop theme's warning icon; where the desktop names no theme that has one, a symbol of
// our own rather than the toolkit's built-in bitmap.
QPixmap warningIcon(qreal devicePixelRatio)
{
    QIcon themed = QIcon::fromTheme(QStringLiteral("dialog-warning"));
    if (!themed.isNull())
        return themed.pixmap(QSize(iconSize, iconSize), devicePixelRatio);
    return SymbolPainter::pixmap(Symbol::exclamationmarkTriangleFill, iconSize,
        tdappearance::color(tdappearance::SystemColor::orange, false), SymbolPainter::Fill::gradient,
        devicePixelRatio);
}

// The given text behind [start, start + length) of `shown`, which is `given` with break points
// (zero-width spaces) put in.
QString givenPart(const QString& given, const QString& shown, qsizetype start, qsizetype length)
{
    QString part;
    qsizetype j = 0;
    for (qsizetype i = 0; i < shown.size() && i < start + length; ++i) {
        const bool inserted
            = shown.at(i) == QChar(0x200B) && (j >= given.size() || given.at(j) != QChar(0x200B));
        if (inserted)
            continue;
        if (i >= start && j < given.size())
            part += given.at(j);
        ++j;
    }
    return part;
}

// Ctrl+C in a message box copies its texts; the labels' hold break points that must not end up
// in a copied path, so the texts go as they were given, and so does a part selected in a label and
// copied from it (by its keys or its menu).
class CopyAsGiven : public QObject {
public:
    CopyAsGiven(QMessageBox* box, QString title, QString message)
        : QObject(box)
        , m_title(std::move(title))
        , m_message(std::move(message))
    {
        box->installEventFilter(this);
        connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this, box] {
            QClipboard* clipboard = QGuiApplication::clipboard();
            const QString copied = clipboard->text();
            if (!copied.contains(QChar(0x200B)))
                return;
            for (const auto& [name, given] : { std::pair(QStringLiteral("qt_msgbox_label"), &m_title),
                     std::pair(QStringLiteral("qt_msgbox_informativelabel"), &m_message) }) {
                const QLabel* label = box->findChild<QLabel*>(name);
                if (label && label->hasSelectedText() && label->selectedText() == copied) {
                    clipboard->setText(
                        givenPart(*given, label->text(), label->selectionStart(), copied.size()));
                    return;
                }
            }
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy))
            return false;
        auto* box = static_cast<QMessageBox*>(watched);
        const QString separator = QStringLiteral("---------------------------\n");
        QString text = separator + box->windowTitle() + QLatin1Char('\n') + separator + m_title
            + QLatin1Char('\n') + separator + m_message + QLatin1Char('\n') + separator;
        for (QAbstractButton* button : box->buttons())
            text += button->text() + QStringLiteral("   ");
        QGuiApplication::clipboard()->setText(text + QLatin1Char('\n') + separator);
        return true;
    }

private:
    const QString m_title;
    const QString m_message;
};

} // namespace

QMessageBox* presentTDAlert(
    QWidget* parent, const QString& title, const QString& message, std::function<void()> onClose)
{
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("tdAlert"));
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The title is the bold first line of the box; the frame names the program, so the title is
    // not shown twice.
    box->setWindowTitle(QGuiApplication::applicationDisplayName());
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    box->setInformativeText(message);
    box->setIconPixmap(warningIcon(box->devicePixelRatioF()));
    // Made before the box has a screen: drawn again for the one it is shown on, and each it moves to.
    platform::ScreenRatioWatcher::watch(
        box, [box] { box->setIconPixmap(warningIcon(box->devicePixelRatioF())); });
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
        label->setMinimumWidth(textWidth);
        label->setText(tdBreakableText(title, label->fontMetrics(), textWidth));
    }
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        label->setTextFormat(Qt::PlainText);
        label->setMinimumWidth(textWidth);
        label->setText(tdBreakableText(message, label->fontMetrics(), textWidth));
    }
    new CopyAsGiven(box, title, message);
    QPushButton* close = box->addButton(tdLocalized("Close"), QMessageBox::AcceptRole);
    close->setObjectName(QStringLiteral("alertCloseButton"));
    box->setDefaultButton(close);
    box->setEscapeButton(close);
    QObject::connect(box, &QDialog::finished, box, [onClose = std::move(onClose)] {
        if (onClose)
            onClose();
    });
    box->open();
    return box;
}
