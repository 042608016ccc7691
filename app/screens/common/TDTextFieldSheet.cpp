#include "app/screens/common/TDTextFieldSheet.h"

#include "app/TDLocalizedText.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDGroupedBox.h"
#include "app/screens/common/TDPrimaryButton.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

TDTextFieldSheet::TDTextFieldSheet(
    const Texts& texts, const QString& text, int fieldMinimumWidth, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(texts.windowTitle);
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* formArea = new QVBoxLayout;
    formArea->setContentsMargins(padding, padding, padding, 12);
    auto* group = new TDGroupedBox(this);
    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(texts.placeholder);
    m_field->setAccessibleName(texts.fieldName);
    m_field->setMinimumWidth(fieldMinimumWidth);
    tdKeepOnOneLine(m_field);
    m_field->setText(text);
    connect(m_field, &QLineEdit::textEdited, this, [this](const QString& edited) {
        if (m_onEdit)
            m_onEdit(edited);
    });
    group->addRow(texts.rowLabel, m_field, TDGroupedBox::Width::expanding);
    formArea->addWidget(group);
    layout->addLayout(formArea);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(padding, 8, padding, padding);
    m_cancel = makeTDSheetButton(tdLocalized("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    m_primary = new TDPrimaryButton(texts.primaryLabel, this);
    connect(m_primary, &QPushButton::clicked, this, [this] {
        if (m_onPrimary)
            m_onPrimary();
    });
    buttons->addWidget(m_primary);
    layout->addLayout(buttons);
}

void TDTextFieldSheet::present()
{
    open();
    m_field->setFocus();
    m_field->selectAll();
}
