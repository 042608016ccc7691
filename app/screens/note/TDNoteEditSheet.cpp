#include "app/screens/note/TDNoteEditSheet.h"

#include "app/TDLocalizedText.h"
#include "app/notes/TDNoteWindowModel.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDGroupedBox.h"
#include "app/screens/common/TDLocalDay.h"
#include "app/screens/common/TDPrimaryButton.h"
#include "app/screens/common/TDProjectSheetTemplate.h"
#include "platform/ui/ObservedWidgetUpdates.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

// The sheet's content: keeps the fields and the Save button in step with the model.
class TDNoteEditSheet::Form : public platform::ObservedWidget {
public:
    Form(TDNoteEditSheet& sheet)
        : platform::ObservedWidget(&sheet)
        , m_sheet(sheet)
    {
    }

protected:
    void render() override
    {
        const auto& model = *m_sheet.m_model;
        platform::setTextIfChanged(m_sheet.m_title, model.newTitle());
        const QDate day = tdLocalDay(model.newDate());
        if (m_sheet.m_date->date() != day) {
            const QSignalBlocker block(m_sheet.m_date);
            m_sheet.m_date->setDate(day);
        }
        platform::setEnabledIfChanged(m_sheet.m_save, !model.isRenaming());
    }

private:
    TDNoteEditSheet& m_sheet;
};

QString TDNoteEditSheet::dateFormat(const QLocale& locale)
{
    // A two-digit year keeps the century of the date shown, so no other century could be typed.
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

TDNoteEditSheet::TDNoteEditSheet(std::shared_ptr<TDNoteWindowModel> model, QWidget* parent)
    : QDialog(parent)
    , m_model(std::move(model))
{
    setObjectName(QStringLiteral("noteEditSheet"));
    // The sheet opens on the note as it is now: what a cancelled sheet held is dropped, so that a
    // later Save for the date alone does not rename the note to it, nor back from a rename made
    // elsewhere.
    if (const auto located = m_model->note()) {
        m_model->setNewTitle(located->note->title());
        m_model->setNewDate(located->note->date());
    }
    setWindowTitle(tdLocalized("Edit Note"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    m_form = new Form(*this);
    // The fixed-size layout would shrink the sheet to its content's least width, leaving the title
    // field room for a dozen characters.
    m_form->setFixedWidth(sheetWidth);
    outer->addWidget(m_form);
    auto* layout = new QVBoxLayout(m_form);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* formArea = new QVBoxLayout;
    formArea->setContentsMargins(buttonRowPadding, buttonRowPadding, buttonRowPadding, 12);
    auto* group = new TDGroupedBox(m_form);
    m_title = new QLineEdit(m_form);
    m_title->setObjectName(QStringLiteral("noteTitleField"));
    m_title->setAccessibleName(tdLocalized("Title"));
    // Emptied, the field still says what it holds.
    m_title->setPlaceholderText(tdLocalized("Title"));
    m_title->setFrame(false);
    m_title->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
    QPalette palette = m_title->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    m_title->setPalette(palette);
    connect(
        m_title, &QLineEdit::textEdited, this, [this](const QString& text) { m_model->setNewTitle(text); });
    group->addRow(tdLocalized("Title"), m_title, TDGroupedBox::Width::expanding);

    m_date = new QDateEdit(m_form);
    m_date->setObjectName(QStringLiteral("noteDateField"));
    m_date->setAccessibleName(tdLocalized("Date"));
    m_date->setCalendarPopup(true);
    m_date->setDisplayFormat(dateFormat(QLocale::system()));
    tdAllowEarlyDays(m_date);
    m_date->setMinimumWidth(130);
    connect(m_date, &QDateEdit::dateChanged, this, [this](const QDate& day) {
        const platform::Date current = m_model->newDate();
        if (day.isValid() && day != tdLocalDay(current))
            m_model->setNewDate(TDProjectSheetTemplate::movedToDay(current, day));
    });
    group->addRow(tdLocalized("Date"), m_date);
    formArea->addWidget(group);
    layout->addLayout(formArea);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(buttonRowPadding, 8, buttonRowPadding, buttonRowPadding);
    m_cancel = makeTDSheetButton(tdLocalized("Cancel"), m_form);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(m_cancel, &QPushButton::clicked, this, [this] { reject(); });
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);
    // The default button: Return anywhere in the sheet presses it, once.
    m_save = new TDPrimaryButton(tdLocalized("Save"), m_form);
    m_save->setObjectName(QStringLiteral("saveButton"));
    connect(m_save, &QPushButton::clicked, this, [this] { save(); });
    buttons->addWidget(m_save);
    layout->addLayout(buttons);

    // However the sheet closes, the model hears of it.
    connect(this, &QDialog::finished, this, [this] { m_model->setOpenEditSheet(false); });

    m_form->renderNow();
}

void TDNoteEditSheet::save()
{
    if (m_model->isRenaming())
        return;
    QPointer<TDNoteEditSheet> self(this);
    m_model->saveEdit([self](TDNoteWindowModel::EditResult result) {
        if (!self || result)
            return;
        const auto& failure = result.error();
        if (failure.reason == TDNoteWindowModel::EditFailure::Reason::busy)
            return;
        presentTDAlert(self, failure.message.title, failure.message.text);
    });
}
