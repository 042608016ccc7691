#include "EDCompletion/EDCompletionWindow.h"

#include "EDCompletion/EDCompletionViewController.h"
#include "EDCompletion/EDCompletionWindowController.h"

#include <QCloseEvent>
#include <QPainterPath>
#include <QVBoxLayout>

EDCompletionWindow::EDCompletionWindow(
    std::shared_ptr<EDCompletionViewControllerProtocol> contentViewController)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
    , m_contentViewController(std::move(contentViewController))
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window is exactly as large as its content asks.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    if (m_contentViewController)
        layout->addWidget(m_contentViewController->view());
}

EDCompletionWindow::~EDCompletionWindow() = default;

EDCompletionWindowController* EDCompletionWindow::windowController() const
{
    return m_windowController;
}

void EDCompletionWindow::setWindowController(EDCompletionWindowController* controller)
{
    m_windowController = controller;
}

void EDCompletionWindow::fitToContent()
{
    layout()->activate();
}

void EDCompletionWindow::closeEvent(QCloseEvent* event)
{
    emit willClose();
    event->accept();
}

void EDCompletionWindow::resizeEvent(QResizeEvent*)
{
    // Rounded by its shape rather than by a see-through background, which shows black corners
    // where no compositing manager runs.
    QPainterPath outline;
    outline.addRoundedRect(
        QRectF(rect()), EDCompletionViewController::cornerRadius, EDCompletionViewController::cornerRadius);
    setMask(QRegion(outline.toFillPolygon().toPolygon()));
}
