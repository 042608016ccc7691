#pragma once

#include "../LibraryTestSupport.h"
#include "app/TDStores.h"
#include "app/model/TDProject.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDLibraryCoding.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QTest>
#include <QWidget>

#include <optional>

namespace screentest {

// Stores over the library folder of a `LibraryRoot` made before them.
inline TDStores makeStores()
{
    return TDStores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
}

inline std::shared_ptr<TDProject> project(const QString& name, std::shared_ptr<TDCategory> category,
    TDStatus status = TDStatus::inProgress, bool favorite = false)
{
    TDProject::Fields fields;
    fields.name = name;
    fields.category = std::move(category);
    fields.id = platform::Uuid::random();
    fields.status = status;
    fields.isFavorite = favorite;
    fields.startDate = platform::Date(786840000.25);
    return TDProject::make(std::move(fields));
}

// The library folder of `root` made, holding the folder of the project `name`, which `stores` list
// alone (in their first category).
inline std::shared_ptr<TDProject> onlyProjectOf(
    apptest::LibraryRoot& root, const TDStores& stores, const QString& name)
{
    root.makeLibraryFolder();
    QDir(root.library()).mkdir(name);
    auto made = project(name, stores.categoryStore->tdCategories().front());
    stores.projectStore->setTdProjects({ made });
    return made;
}

// The visible alert whose parent is `parent`, if any.
inline QMessageBox* alertOn(QWidget* parent)
{
    for (auto* box : parent->findChildren<QMessageBox*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (box->isVisible())
            return box;
    }
    return nullptr;
}

// Presses the alert's one button, "Close".
inline void closeAlert(QMessageBox* box)
{
    ASSERT_TRUE(box);
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons().front()->text(), "Close");
    box->buttons().front()->click();
    QCoreApplication::processEvents();
}

// The names in a library file, in order.
inline QStringList namesIn(const QByteArray& json, const char* key = "_name")
{
    QStringList names;
    for (const auto& value : QJsonDocument::fromJson(json).array())
        names.append(value.toObject()[QLatin1String(key)].toString());
    return names;
}

// Types `text` into a widget as key presses do, also outside ASCII.
inline void typeText(QWidget* widget, const QString& text)
{
    if (text.isEmpty())
        return;
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
}

// A left-button mouse event of `type` at the middle of `widget`, made at `timestamp`; `global`
// places the pointer on the screen elsewhere, as when the widget moved under it.
inline void sendMouse(
    QWidget* widget, QEvent::Type type, ulong timestamp, std::optional<QPointF> global = std::nullopt)
{
    const QPointF at = QRectF(widget->rect()).center();
    QMouseEvent event(type, at, global.value_or(widget->mapToGlobal(at)), Qt::LeftButton,
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    event.setTimestamp(timestamp);
    QApplication::sendEvent(widget, &event);
}

// A clock for `sendMouse`, a long pause past every earlier reading.
inline ulong mouseClock()
{
    static ulong clock = 1'000'000;
    return clock += 10'000;
}

// `count` left clicks on `widget` in quick succession: the second press comes as a double click,
// the third as a plain press again.
inline void quickClicks(QWidget* widget, int count)
{
    const ulong start = mouseClock();
    for (int i = 0; i < count; ++i) {
        sendMouse(widget, i == 1 ? QEvent::MouseButtonDblClick : QEvent::MouseButtonPress, start + 80 * i);
        sendMouse(widget, QEvent::MouseButtonRelease, start + 80 * i + 40);
    }
    QCoreApplication::processEvents();
}

// `key` pressed on `widget` and held for three repeats.
inline void holdKey(QWidget* widget, Qt::Key key, const QString& text = {})
{
    for (int i = 0; i < 4; ++i)
        QTest::simulateEvent(widget, true, key, Qt::NoModifier, text, i > 0);
}

// Installs a light or a dark application palette for the life of the object.
class ScopedPalette {
public:
    explicit ScopedPalette(bool dark)
        : m_saved(QApplication::palette())
    {
        QPalette palette;
        if (dark) {
            const QColor window(0x32, 0x32, 0x32), base(0x1E, 0x1E, 0x1E), button(0x3C, 0x3C, 0x3C);
            for (auto [role, color] : { std::pair { QPalette::Window, window }, { QPalette::Base, base },
                     { QPalette::AlternateBase, button }, { QPalette::Button, button },
                     { QPalette::WindowText, QColor(Qt::white) }, { QPalette::Text, QColor(Qt::white) },
                     { QPalette::ButtonText, QColor(Qt::white) },
                     { QPalette::Light, QColor(0x50, 0x50, 0x50) },
                     { QPalette::Midlight, QColor(0x46, 0x46, 0x46) },
                     { QPalette::Mid, QColor(0x2A, 0x2A, 0x2A) },
                     { QPalette::Dark, QColor(0x20, 0x20, 0x20) }, { QPalette::Shadow, QColor(Qt::black) },
                     { QPalette::PlaceholderText, QColor(0x80, 0x80, 0x80) },
                     { QPalette::Highlight, QColor(0x0A, 0x84, 0xFF) } })
                palette.setColor(role, color);
        } else {
            palette.setColor(QPalette::Window, QColor(0xEC, 0xEC, 0xEC));
            palette.setColor(QPalette::WindowText, Qt::black);
            palette.setColor(QPalette::Base, Qt::white);
            palette.setColor(QPalette::Text, Qt::black);
        }
        QApplication::setPalette(palette);
    }
    ~ScopedPalette() { QApplication::setPalette(m_saved); }

private:
    QPalette m_saved;
};

// The bounds of what is drawn on `ground` within `area` of `image`: pixels whose lightness differs
// from the ground's by more than `threshold`.
inline QRect inkBounds(const QImage& image, const QColor& ground, QRect area = {}, int threshold = 60)
{
    area = area.isNull() ? image.rect() : area & image.rect();
    QRect ink;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (std::abs(image.pixelColor(x, y).lightness() - ground.lightness()) > threshold)
                ink |= QRect(x, y, 1, 1);
        }
    }
    return ink;
}

} // namespace screentest
