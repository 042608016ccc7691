#include "EDCompletion/EDCompletionWindowController.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <utility>

EDCompletionWindowController::EDCompletionWindowController(
    std::shared_ptr<EDCompletionViewControllerProtocol> viewController)
{
    EDCompletionViewControllerProtocol* content = viewController.get();
    m_window = new EDCompletionWindow(std::move(viewController));
    m_window->setWindowController(this);
    // Connected once for the controller's life, however often the pop-up is shown.
    connect(m_window, &EDCompletionWindow::willClose, this, [this] {
        if (m_window && m_window->contentViewController())
            m_window->contentViewController()->setItems({});
    });
    if (content)
        content->setDelegate(this);
}

EDCompletionWindowController::~EDCompletionWindowController()
{
    watchParentWindow(nullptr);
    watchHost(nullptr);
    watchHostAncestors();
    if (m_window) {
        if (auto* content = m_window->contentViewController(); content && content->delegate() == this)
            content->setDelegate(nullptr);
        delete m_window.data();
    }
}

bool EDCompletionWindowController::isVisible() const
{
    return m_window && m_window->isVisible();
}

void EDCompletionWindowController::show()
{
    if (m_window)
        m_window->show();
}

void EDCompletionWindowController::show(EDCompletionItems items, QWidget* parent, QPoint topLeft)
{
    if (!m_window)
        return;
    EDCompletionWindow& window = *m_window;
    QWidget* parentWindow = parent ? parent->window() : nullptr;
    const bool wasVisible = window.isVisible();
    if (!wasVisible && window.parentWidget() != parentWindow)
        window.setParent(parentWindow, window.windowFlags());
    if (auto* content = window.contentViewController())
        content->setItems(std::move(items));
    window.fitToContent();

    QScreen* screen = QGuiApplication::screenAt(topLeft);
    if (!screen)
        screen = parentWindow ? parentWindow->screen() : QGuiApplication::primaryScreen();
    QPoint position = topLeft;
    if (screen) {
        const QRect available = screen->availableGeometry();
        position.setX(std::clamp(position.x(), available.left(),
            std::max(available.left(), available.right() + 1 - window.width())));
        position.setY(std::clamp(position.y(), available.top(),
            std::max(available.top(), available.bottom() + 1 - window.height())));
    }
    window.move(position);

    watchParentWindow(parentWindow);
    watchHost(parent);
    watchHostAncestors();
    if (!wasVisible)
        window.show();
}

void EDCompletionWindowController::close()
{
    if (m_window && m_window->isVisible())
        m_window->close();
}

void EDCompletionWindowController::completionViewController(EDCompletionViewControllerProtocol&,
    const std::shared_ptr<EDCompletionItem>& item, EDTextMovement movement)
{
    if (m_delegate)
        m_delegate->completionWindowController(*this, item, movement);
}

void EDCompletionWindowController::watchParentWindow(QWidget* parentWindow)
{
    if (m_parentWindow != parentWindow) {
        if (m_parentWindow)
            m_parentWindow->removeEventFilter(this);
        disconnect(m_parentDestroyed);
        m_parentWindow = parentWindow;
        if (parentWindow) {
            parentWindow->installEventFilter(this);
            // A window deletes its child windows with it; the pop-up serves the controller's
            // whole life, so it leaves first. The signal comes before the children go.
            m_parentDestroyed = connect(parentWindow, &QObject::destroyed, this, [this] {
                if (m_window)
                    m_window->setParent(nullptr, m_window->windowFlags());
            });
        }
    }
    if (parentWindow)
        m_parentPosition = parentWindow->pos();
}

void EDCompletionWindowController::watchHost(QWidget* host)
{
    if (m_host == host)
        return;
    // A host that is the parent window itself stays watched as that.
    if (m_host && m_host != m_parentWindow)
        m_host->removeEventFilter(this);
    disconnect(m_hostDestroyed);
    m_host = host;
    if (!host)
        return;
    host->installEventFilter(this);
    m_hostDestroyed = connect(host, &QObject::destroyed, this, [this] {
        if (isVisible())
            close();
    });
}

void EDCompletionWindowController::watchHostAncestors()
{
    for (const QPointer<QWidget>& ancestor : m_hostAncestors) {
        if (ancestor)
            ancestor->removeEventFilter(this);
    }
    m_hostAncestors.clear();
    if (!m_host)
        return;
    for (QWidget* ancestor = m_host->isWindow() ? nullptr : m_host->parentWidget();
         ancestor && !ancestor->isWindow(); ancestor = ancestor->parentWidget()) {
        ancestor->installEventFilter(this);
        m_hostAncestors.emplace_back(ancestor);
    }
    m_hostPosition = m_host->mapTo(m_host->window(), QPoint(0, 0));
}

void EDCompletionWindowController::followHost()
{
    if (!m_host)
        return;
    // A host that is its window moves as the window does (see the window's moves below).
    const QPoint position = m_host->mapTo(m_host->window(), QPoint(0, 0));
    const QPoint moved = position - std::exchange(m_hostPosition, position);
    if (!isVisible())
        return;
    m_window->move(m_window->pos() + moved);
    emit hostGeometryChanged();
}

bool EDCompletionWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_host && m_host != m_parentWindow) {
        // Keys typed elsewhere are not the list's, and a list left over a hidden field points
        // at nothing.
        if ((event->type() == QEvent::FocusOut || event->type() == QEvent::Hide) && isVisible())
            close();
        else if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            followHost();
        return QObject::eventFilter(watched, event);
    }
    if (event->type() == QEvent::Move
        && std::find(m_hostAncestors.begin(), m_hostAncestors.end(), watched) != m_hostAncestors.end()) {
        followHost();
        return QObject::eventFilter(watched, event);
    }
    if (watched != m_parentWindow)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::WindowDeactivate:
    case QEvent::Hide:
        // The field it serves may have closed it already, losing the focus with its window.
        if (isVisible())
            close();
        break;
    case QEvent::Resize:
        if (m_host == m_parentWindow)
            followHost();
        break;
    case QEvent::Move: {
        // A child window goes where its parent goes.
        const QPoint moved = m_parentWindow->pos() - m_parentPosition;
        m_parentPosition = m_parentWindow->pos();
        if (m_window && m_window->isVisible())
            m_window->move(m_window->pos() + moved);
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
