#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

class QMimeData;
class QWidget;

// Makes a widget (the images area of a workspace, placeholder and grid alike) the drop target for
// image files. A drag that carries a file of this computer which may be an image is accepted as a
// copy, and the area is outlined while it hovers; a drop hands every dropped address to
// `performDrop`, which imports them. Which files really are images is judged by their content
// later, off the main thread; here only names are looked at, so hovering never reads a file.
class ReferenceImageDropDelegate : public QObject {
public:
    ReferenceImageDropDelegate(QWidget* target, std::function<void(std::vector<QUrl>)> performDrop);

    static bool validateDrop(const QMimeData* data);
    // The addresses a drop carries, read from its URI list where there is one: the list's comment
    // lines are no addresses.
    static QList<QUrl> droppedUrls(const QMimeData& data);
    // Always true: the files that cannot be added are reported by the import. A file named more than
    // once is handed on once.
    bool performDrop(const QMimeData* data);
    bool isTargeted() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setTargeted(bool targeted);

    QPointer<QWidget> m_target;
    QPointer<QWidget> m_highlight;
    std::function<void(std::vector<QUrl>)> m_performDrop;
    // Whether the drag hovering now may be dropped; unknown outside a drag.
    std::optional<bool> m_hoverAccepts;
};
