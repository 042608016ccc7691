#include "app/screens/settings/SettingsView.h"

#include "app/TDLocalizedText.h"
#include "app/model/TDProject.h"
#include "app/screens/common/SymbolPainter.h"
#include "app/screens/common/TDAlert.h"
#include "app/screens/common/TDAppearance.h"
#include "app/screens/common/TDDisplayText.h"
#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDGroupedBox.h"
#include "app/screens/common/TDKeyboardStep.h"
#include "app/screens/common/TDPrimaryButton.h"
#include "app/screens/common/TDTextFieldSheet.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDLibraryFile.h"
#include "app/store/TDProjectStore.h"
#include "platform/ui/ObservedWidgetUpdates.h"

#include <QDialog>
#include <QEvent>
#include <QFocusEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

using tdappearance::SystemColor;

namespace {

constexpr int rowFontSize = 13;
constexpr int listMinimumHeight = 150;
constexpr int controlHeight = 22;

bool sameName(const QString& a, const QString& b)
{
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

// The box around the list: the control background, a thin border drawn inside its bounds.
class TDCategoryBox : public QWidget {
public:
    static constexpr qreal borderWidthPoints = 0.7;

    explicit TDCategoryBox(QWidget* parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("categoryBox"));
    }

    // Rings the box while the list in it has the focus from the keys: a click on a row gives the
    // list the focus without a ring, and the focus coming back to the window keeps what it was.
    void listFocusChanged(const QFocusEvent* event)
    {
        if (event->gotFocus()) {
            const Qt::FocusReason reason = event->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                m_fromKeyboard = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason
                    || reason == Qt::ShortcutFocusReason;
        }
        m_focusRing = event->gotFocus() && m_fromKeyboard;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const bool dark = tdappearance::isDark(this);
        painter.fillRect(rect(), tdappearance::color(SystemColor::controlBackground, dark));
        if (m_focusRing) {
            painter.setPen(QPen(tdfocusring::color(this), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
            painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
            painter.drawRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
            return;
        }
        // 0.7 points in whole device pixels, at least one: a hairline at 1x and at 2x alike, where
        // a wider line would be drawn twice as heavy and a thinner one would be blurred paler.
        // The device painted on: a grab or a print at another scale than the widget's screen.
        const qreal scale = painter.paintEngine()->paintDevice()->devicePixelRatioF();
        const qreal width = std::max<qreal>(1, std::round(borderWidthPoints * scale)) / scale;
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(tdappearance::color(SystemColor::tertiaryLabel, dark), width, Qt::SolidLine,
            Qt::FlatCap, Qt::MiterJoin));
        painter.drawRect(QRectF(rect()).adjusted(width / 2, width / 2, -width / 2, -width / 2));
    }

private:
    bool m_focusRing = false;
    bool m_fromKeyboard = false;
};

// Two joined buttons, "minus" and "plus", in one bordered control.
class TDSegmentedPair : public QWidget {
public:
    TDSegmentedPair(QToolButton* first, QToolButton* second, QWidget* parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("categoryControlGroup"));
        setFixedSize(SettingsView::controlGroupWidth, controlHeight);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(1, 1, 1, 1);
        layout->setSpacing(1);
        for (QToolButton* button : { first, second }) {
            button->setParent(this);
            button->setAutoRaise(true);
            button->setFixedHeight(controlHeight - 2);
            button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
            button->setIconSize(QSize(12, 12));
            layout->addWidget(button);
        }
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        const bool dark = tdappearance::isDark(this);
        QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(tdappearance::color(SystemColor::tertiaryLabel, dark), 1));
        painter.setBrush(dark ? QColor(255, 255, 255, 20) : QColor(255, 255, 255));
        painter.drawRoundedRect(box, 5, 5);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.fillRect(
            QRect(width() / 2, 4, 1, height() - 8), tdappearance::color(SystemColor::separator, dark));
    }
};

} // namespace

TDCategoryRow::TDCategoryRow(
    std::shared_ptr<TDCategory> category, std::function<void()> onSelect, QWidget* parent)
    : QWidget(parent)
    , m_category(std::move(category))
    , m_onSelect(std::move(onSelect))
{
    setObjectName(QStringLiteral("categoryRow"));
    setProperty("categoryId", m_category->id().uuidString());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFont(tdappearance::systemFont(rowFontSize));
}

void TDCategoryRow::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
}

void TDCategoryRow::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QSize TDCategoryRow::sizeHint() const
{
    QFontMetrics metrics(font());
    // A name in another script can take its glyphs from a taller font (Thai marks stacked over a
    // vowel): the row is as tall as the line that name makes.
    const int line = std::max(metrics.height(), metrics.boundingRect(m_text).height());
    return QSize(metrics.horizontalAdvance(m_text) + 16, line + 8);
}

void TDCategoryRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = tdappearance::isDark(this);
    if (m_selected)
        painter.fillRect(rect(), tdappearance::color(SystemColor::selectedContentBackground, dark));
    painter.setPen(m_selected ? QColor(Qt::white) : tdappearance::color(SystemColor::primaryLabel, dark));
    painter.setFont(font());
    QRect text = rect().adjusted(8, 4, -8, -4);
    // From the layout's leading edge, in the name's own direction, so that its ellipsis stays at
    // its end in a right-to-left layout too.
    painter.setLayoutDirection(m_text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    const Qt::Alignment leading = isRightToLeft() ? Qt::AlignRight : Qt::AlignLeft;
    painter.drawText(text, leading | Qt::AlignAbsolute | Qt::AlignVCenter | Qt::TextDontClip,
        QFontMetrics(font()).elidedText(m_text, Qt::ElideRight, text.width()));
}

void TDCategoryRow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_onSelect) {
        event->accept();
        m_onSelect();
        return;
    }
    QWidget::mousePressEvent(event);
}

SettingsView::SettingsView(TDStores stores, QWidget* parent)
    : platform::ObservedWidget(parent)
    , m_stores(std::move(stores))
{
    setObjectName(QStringLiteral("settingsView"));
    auto stored = TDCategoryStore::load();
    if (!stored.empty())
        m_selectedTDCategory = stored.front();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(tabPadding, tabPadding, tabPadding, tabPadding);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    m_tabs->setDocumentMode(true);
    // One tab: a stop there would choose nothing.
    m_tabs->tabBar()->setFocusPolicy(Qt::NoFocus);
    outer->addWidget(m_tabs);

    auto* page = new QWidget(m_tabs);
    auto* form = new QFormLayout(page);
    form->setContentsMargins(0, 16, 0, 0);
    form->setLabelAlignment(Qt::AlignTrailing | Qt::AlignTop);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    auto* box = new TDCategoryBox(page);
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(1, 1, 1, 1);
    boxLayout->setSpacing(0);
    auto* scroll = new QScrollArea(box);
    scroll->setObjectName(QStringLiteral("categoryList"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setMinimumHeight(listMinimumHeight);
    scroll->viewport()->setAutoFillBackground(false);
    // Tab reaches the list and the arrows choose the category that "minus" acts on.
    scroll->setFocusPolicy(Qt::StrongFocus);
    scroll->setAccessibleName(tdLocalized("Categories"));
    scroll->installEventFilter(this);
    m_list = scroll;
    m_box = box;
    m_rowsHolder = new QWidget(scroll);
    m_rowsHolder->setAutoFillBackground(false);
    m_rowsLayout = new QVBoxLayout(m_rowsHolder);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(0);
    m_rowsLayout->addStretch(1);
    scroll->setWidget(m_rowsHolder);
    // The rows lie on the box's own background.
    m_rowsHolder->setAutoFillBackground(false);
    boxLayout->addWidget(scroll, 1);

    auto* divider = new QWidget(box);
    divider->setObjectName(QStringLiteral("categoryDivider"));
    divider->setFixedHeight(1);
    divider->setAutoFillBackground(true);
    boxLayout->addWidget(divider);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(8, 8, 8, 8);
    m_restore = new QPushButton(tdLocalized("Restore the default"), box);
    m_restore->setObjectName(QStringLiteral("restoreDefaultButton"));
    m_restore->setFlat(true);
    m_restore->setAutoDefault(false);
    m_restore->setCursor(Qt::ArrowCursor);
    m_restore->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0px; text-align: left; }"));
    connect(m_restore, &QPushButton::clicked, this, [this] { restoreDefaultCategories(); });
    bar->addWidget(m_restore);
    bar->addStretch(1);
    m_minus = new QToolButton(box);
    m_minus->setObjectName(QStringLiteral("deleteCategoryButton"));
    m_minus->setAccessibleName(tdLocalized("Remove"));
    m_minus->setToolTip(tdLocalized("Remove the selected category"));
    connect(m_minus, &QToolButton::clicked, this, [this] { deleteCategory(); });
    m_plus = new QToolButton(box);
    m_plus->setObjectName(QStringLiteral("addCategoryButton"));
    m_plus->setAccessibleName(tdLocalized("Add"));
    m_plus->setToolTip(tdLocalized("Add a category"));
    connect(m_plus, &QToolButton::clicked, this, [this] { openNewCategorySheet(); });
    bar->addWidget(new TDSegmentedPair(m_minus, m_plus, box));
    // Borderless, these show no focus of their own.
    tdfocusring::attach(m_restore, 3);
    tdfocusring::attach(m_minus, 3);
    tdfocusring::attach(m_plus, 3);
    boxLayout->addLayout(bar);

    auto* label = new QLabel(tdLocalized("Category:"), page);
    label->setObjectName(QStringLiteral("categoryLabel"));
    label->setContentsMargins(0, 4, 0, 0);
    form->addRow(label, box);
    m_form = form;
    m_formLabel = label;
    page->installEventFilter(this);

    m_tabs->addTab(page, tdLocalized("Settings"));
    applyColors();
    renderNow();
}

SettingsView::~SettingsView()
{
    delete m_sheet.data();
}

void SettingsView::applyColors()
{
    const bool dark = tdappearance::isDark(this);
    const QColor symbol = tdappearance::color(SystemColor::primaryLabel, dark);
    m_tabs->setTabIcon(
        0, SymbolPainter::icon(Symbol::gear, 16, tdappearance::color(SystemColor::secondaryLabel, dark)));
    m_minus->setIcon(SymbolPainter::icon(Symbol::minus, 12, symbol));
    m_plus->setIcon(SymbolPainter::icon(Symbol::plus, 12, symbol));
    if (auto* divider = findChild<QWidget*>(QStringLiteral("categoryDivider"))) {
        QPalette palette = divider->palette();
        palette.setColor(QPalette::Window, tdappearance::color(SystemColor::separator, dark));
        divider->setPalette(palette);
    }
}

void SettingsView::changeEvent(QEvent* event)
{
    platform::ObservedWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
    // A widget with a style sheet of its own takes a new font or palette only from a parent with
    // one: without this, "Restore the default" would keep the font and the text colour it was made
    // with (dark text on a dark bar after a switch to dark). Setting the sheet again makes it take
    // what it inherits now.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        m_restore->setStyleSheet(m_restore->styleSheet());
}

void SettingsView::placeFormLabel()
{
    // The window's width is fixed: with a large desktop font the list's controls leave no room for
    // its label beside it, which then goes above the list instead of being squeezed out. Chosen
    // here rather than by the form's own wrapping, whose height the window would not take.
    QWidget* page = m_form->parentWidget();
    const int beside = m_formLabel->sizeHint().width() + std::max(m_form->horizontalSpacing(), 0)
        + m_box->minimumSizeHint().width();
    const auto policy
        = beside > page->contentsRect().width() ? QFormLayout::WrapAllRows : QFormLayout::DontWrapRows;
    if (m_form->rowWrapPolicy() != policy)
        m_form->setRowWrapPolicy(policy);
}

QList<TDCategoryRow*> SettingsView::rows() const
{
    QList<TDCategoryRow*> list;
    for (int i = 0; i < m_rowsLayout->count(); ++i) {
        if (auto* row = dynamic_cast<TDCategoryRow*>(m_rowsLayout->itemAt(i)->widget()))
            list.append(row);
    }
    return list;
}

bool SettingsView::eventFilter(QObject* watched, QEvent* event)
{
    // Asked again when the page is resized and when its contents' sizes change (a new font).
    if (m_form && watched == m_form->parentWidget()
        && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        placeFormLabel();
    if (watched == m_list && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        static_cast<TDCategoryBox*>(m_box)->listFocusChanged(static_cast<QFocusEvent*>(event));
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QList<TDCategoryRow*> list = rows();
        qsizetype current = -1;
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (list[i]->isSelected())
                current = i;
        }
        const std::optional<int> next = key->modifiers() & ~Qt::KeypadModifier
            ? std::nullopt
            : tdKeyboardStep(key->key(), int(current), int(list.size()));
        if (!next)
            return platform::ObservedWidget::eventFilter(watched, event);
        select(list[*next]->category());
        m_list->ensureWidgetVisible(list[*next], 0, 0);
        return true;
    }
    return platform::ObservedWidget::eventFilter(watched, event);
}

void SettingsView::select(const std::shared_ptr<TDCategory>& category)
{
    m_selectedTDCategory = category;
    for (TDCategoryRow* row : rows())
        row->setSelected(category && row->category()->id() == category->id());
    updateDeleteButton();
}

void SettingsView::updateDeleteButton()
{
    const auto categories = m_stores.categoryStore->tdCategories();
    const bool listed = m_selectedTDCategory
        && std::any_of(categories.begin(), categories.end(),
            [&](const auto& category) { return category->id() == m_selectedTDCategory->id(); });
    // Greyed with the keys on it, "minus" would pass them on to "plus", where the next Space opens
    // the new-category sheet: they go back to the list, where the arrows choose what goes next.
    if (!listed && m_minus->hasFocus())
        m_list->setFocus(tdfocusring::isShown(m_minus) ? Qt::TabFocusReason : Qt::OtherFocusReason);
    platform::setEnabledIfChanged(m_minus, listed);
}

void SettingsView::render()
{
    auto categories = m_stores.categoryStore->tdCategories();
    QList<TDCategoryRow*> current = rows();
    bool same = current.size() == static_cast<qsizetype>(categories.size());
    for (qsizetype i = 0; same && i < current.size(); ++i)
        same = current[i]->category() == categories[static_cast<size_t>(i)];
    if (!same) {
        for (TDCategoryRow* row : current) {
            m_rowsLayout->removeWidget(row);
            delete row;
        }
        int index = 0;
        for (const auto& category : categories) {
            std::weak_ptr<TDCategory> weak = category;
            auto* row = new TDCategoryRow(
                category,
                [this, weak] {
                    if (auto category = weak.lock())
                        select(category);
                },
                m_rowsHolder);
            m_rowsLayout->insertWidget(index++, row);
            // Now rather than on the layout's later call, so the list is measured with it at once.
            row->show();
        }
    }
    for (TDCategoryRow* row : rows()) {
        row->setText(tdDisplayText(row->category()->name()));
        row->setSelected(m_selectedTDCategory && row->category()->id() == m_selectedTDCategory->id());
    }
    updateDeleteButton();
    if (std::exchange(m_revealLastRow, false) && !rows().isEmpty()) {
        // A category added below the fold would leave the list looking as before the Add. The row
        // is placed first, so the list knows how far down it lies.
        TDCategoryRow* last = rows().last();
        m_rowsLayout->activate();
        m_rowsHolder->resize(m_rowsHolder->width(),
            std::max(m_list->viewport()->height(), m_rowsHolder->minimumSizeHint().height()));
        m_list->ensureWidgetVisible(last, 0, 0);
    }
}

void SettingsView::raiseAlert(QWidget* parent, const QString& title, const QString& message)
{
    if (m_alert)
        return;
    m_alert = presentTDAlert(parent, title, message);
}

void SettingsView::deleteCategory()
{
    if (!m_selectedTDCategory)
        return;
    auto categories = m_stores.categoryStore->tdCategories();
    // The selection may still hold a category deleted earlier: "minus" then acts on nothing, so a
    // category added later under that name is never removed without a test of its own.
    auto selected = std::find_if(categories.begin(), categories.end(),
        [&](const auto& category) { return category->id() == m_selectedTDCategory->id(); });
    if (selected == categories.end())
        return;
    QWidget* window = this->window();
    // This window can be opened while the library is still loading: until its projects are in, an
    // empty project list would let a category in use go.
    const auto& projectsFile = m_stores.projectStore->libraryFile();
    if (projectsFile && projectsFile->isLoading()) {
        raiseAlert(window, tdLocalized("Can't delete the category"),
            tdLocalized("The projects are still being loaded. Please try again in a moment."));
        return;
    }
    // The store removes every category of that name: each of them must pass the tests.
    std::vector<platform::Uuid> removed;
    for (const auto& category : categories) {
        if (sameName(category->name(), (*selected)->name()))
            removed.push_back(category->id());
    }
    bool inUse = false;
    for (const auto& project : m_stores.projectStore->tdProjects()) {
        auto category = project->category();
        if (category && std::find(removed.begin(), removed.end(), category->id()) != removed.end()) {
            inUse = true;
            break;
        }
    }
    if (inUse) {
        raiseAlert(window, tdLocalized("Can't delete the category"),
            tdLocalized("Some projects are made in the category you are trying to remove. To delete this "
                        "category, first delete the corresponding project or change the category."));
        return;
    }
    if (categories.size() <= removed.size()) {
        raiseAlert(window, tdLocalized("At least 1 category should exist."),
            tdLocalized(
                "At least one category should exist to create a project, so a category cannot be deleted."));
        return;
    }
    showSaveFailure(window, m_stores.categoryStore->remove(**selected));
}

void SettingsView::restoreDefaultCategories()
{
    const std::size_t count = m_stores.categoryStore->tdCategories().size();
    auto saved = m_stores.categoryStore->restoreDefaults();
    // What came back is appended, so shown as an Add's category is.
    m_revealLastRow = m_stores.categoryStore->tdCategories().size() > count;
    showSaveFailure(window(), saved);
}

void SettingsView::showSaveFailure(
    QWidget* parent, const platform::Result<platform::Success, platform::PlatformError>& saved)
{
    // The list stays changed in memory; the next save writes it whole.
    if (!saved)
        raiseAlert(parent, tdLocalized("The settings could not be saved."), saved.error().description);
}

void SettingsView::openNewCategorySheet()
{
    if (m_sheet) {
        m_sheet->raise();
        return;
    }
    auto* sheet = new TDTextFieldSheet(
        { tdLocalized("Category name"), tdLocalized("Category name"), tdLocalized("New category name"),
            tdLocalized("New category name"), tdLocalized("Add") },
        m_newCategoryTitle, newCategoryFieldMinimumWidth, window());
    sheet->setObjectName(QStringLiteral("newCategorySheet"));
    sheet->field()->setObjectName(QStringLiteral("newCategoryField"));
    sheet->primaryButton()->setObjectName(QStringLiteral("addButton"));
    sheet->setOnEdit([this](const QString& text) { m_newCategoryTitle = text; });
    sheet->setOnPrimary([this] { addCategory(); });
    connect(sheet, &QDialog::finished, sheet, [sheet] { sheet->deleteLater(); });
    m_sheet = sheet;
    sheet->present();
}

QLineEdit* SettingsView::newCategoryField() const
{
    return m_sheet ? m_sheet->field() : nullptr;
}

void SettingsView::addCategory()
{
    QWidget* sheet = m_sheet ? static_cast<QWidget*>(m_sheet.data()) : window();
    for (const auto& category : m_stores.categoryStore->tdCategories()) {
        if (sameName(category->name(), m_newCategoryTitle)) {
            raiseAlert(sheet, tdLocalized("The category already exist."),
                tdLocalized(
                    "The category with the name you entered already exists. Please enter a different name."));
            return;
        }
    }
    if (m_newCategoryTitle.isEmpty()) {
        raiseAlert(sheet, tdLocalized("A name is blank"),
            tdLocalized("A name is required to create a project name. Please enter a name."));
        return;
    }
    m_revealLastRow = true;
    auto saved = m_stores.categoryStore->add(m_newCategoryTitle);
    if (m_sheet)
        m_sheet->accept();
    m_newCategoryTitle.clear();
    showSaveFailure(window(), saved);
}
