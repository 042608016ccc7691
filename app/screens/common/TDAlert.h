#pragma once

#include <QString>

#include <functional>

class QMessageBox;
class QWidget;

// Shows a validation or failure alert attached to `parent` (window-modal, not blocking): the title,
// the message under it and one button "Close". `onClose` runs when it is closed, however that
// happens. The box deletes itself once closed.
QMessageBox* presentTDAlert(
    QWidget* parent, const QString& title, const QString& message, std::function<void()> onClose = {});
