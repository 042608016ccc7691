#include "app/screens/common/TDAlert.h"

#include "app/screens/common/TDLocalizedText.h"

#include <QMessageBox>
#include <QPushButton>

QMessageBox* presentTDAlert(
    QWidget* parent, const QString& title, const QString& message, std::function<void()> onClose)
{
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("tdAlert"));
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    box->setText(title);
    box->setInformativeText(message);
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
