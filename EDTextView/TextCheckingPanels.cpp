#include "EDTextView/TextCheckingPanels.h"

#include "EDTextView/EDTextView.h"
#include "EDTextView/TextCheckingController.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>

using platform::SpellChecker;

namespace {

// Makes `target` the view a panel serves; `gone` runs once that view is destroyed, the panel having
// let go of it.
void serve(QObject* panel, QPointer<EDTextView>& current, QMetaObject::Connection& watch, EDTextView* target,
    std::function<void()> gone)
{
    if (target != current) {
        QObject::disconnect(watch);
        if (target) {
            watch = QObject::connect(target, &QObject::destroyed, panel, [&current, gone = std::move(gone)] {
                current = nullptr;
                gone();
            });
        }
    }
    current = target;
}

// The text view that holds `widget`, if any.
EDTextView* textViewOf(QWidget* widget)
{
    for (; widget; widget = widget->parentWidget()) {
        if (auto* view = qobject_cast<EDTextView*>(widget))
            return view;
        if (widget->isWindow())
            break;
    }
    return nullptr;
}

// Keeps a panel on the text view the user works in: a panel left open while the user moves to
// another note serves that note, not the one it was opened over.
template<typename Panel> void followFocus(Panel* panel)
{
    QObject::connect(qApp, &QApplication::focusChanged, panel, [panel](QWidget*, QWidget* now) {
        if (EDTextView* view = textViewOf(now); view && view != panel->target())
            panel->setTarget(view);
    });
}

// "English (United States)" for "en_US"; the dictionary's own name when the locale knows nothing
// of it.
QString languageTitle(const QString& code)
{
    const QLocale locale(code);
    if (locale.language() == QLocale::C)
        return code;
    const QString language = QLocale::languageToString(locale.language());
    return code.contains(u'_')
        ? QStringLiteral("%1 (%2)").arg(language, QLocale::territoryToString(locale.territory()))
        : language;
}

QPointer<SpellingPanel>& sharedSpellingPanel()
{
    static QPointer<SpellingPanel> panel;
    return panel;
}

QPointer<SubstitutionsPanel>& sharedSubstitutionsPanel()
{
    static QPointer<SubstitutionsPanel> panel;
    return panel;
}

} // namespace

SpellingPanel& SpellingPanel::shared()
{
    QPointer<SpellingPanel>& panel = sharedSpellingPanel();
    if (!panel)
        panel = new SpellingPanel;
    return *panel;
}

SpellingPanel* SpellingPanel::visiblePanel()
{
    SpellingPanel* panel = sharedSpellingPanel();
    return panel && panel->isVisible() ? panel : nullptr;
}

SpellingPanel::SpellingPanel()
{
    setWindowTitle(tr("Spelling and Grammar"));
    // Made again when next asked for: a panel kept closed would only hold memory.
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &QObject::deleteLater);
    setModal(false);

    m_problem = new QLabel;
    m_problem->setWordWrap(true);
    m_problem->setTextFormat(Qt::PlainText);
    m_word = new QLineEdit;
    m_guesses = new QListWidget;
    m_guesses->setMinimumHeight(120);
    m_change = new QPushButton(tr("Change"));
    m_findNext = new QPushButton(tr("Find Next"));
    m_ignore = new QPushButton(tr("Ignore"));
    m_learn = new QPushButton(tr("Learn"));
    m_language = new QComboBox;
    m_grammar = new QCheckBox(tr("Check grammar"));

    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : { m_change, m_findNext, m_ignore, m_learn })
        buttons->addWidget(button);
    buttons->addStretch();
    auto* lists = new QVBoxLayout;
    lists->addWidget(m_word);
    lists->addWidget(m_guesses);
    auto* middle = new QHBoxLayout;
    middle->addLayout(lists, 1);
    middle->addLayout(buttons);
    auto* bottom = new QFormLayout;
    bottom->addRow(tr("Dictionary:"), m_language);
    bottom->addRow(QString(), m_grammar);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_problem);
    layout->addLayout(middle);
    layout->addLayout(bottom);

    SpellChecker& checker = SpellChecker::shared();
    for (const QString& code : checker.availableLanguages())
        m_language->addItem(languageTitle(code), code);

    connect(m_guesses, &QListWidget::currentTextChanged, m_word, &QLineEdit::setText);
    connect(m_guesses, &QListWidget::itemDoubleClicked, m_change, &QPushButton::click);
    connect(m_change, &QPushButton::clicked, this, [this] {
        if (!m_target || m_word->text().isEmpty())
            return;
        // The word found is what Change corrects; once the user has selected something else, the
        // panel shows the next problem from there instead of overwriting that selection.
        const platform::CharacterRange selected = m_target->selectedRange();
        if (!m_found.isEmpty() && !selected.isNotFound() && m_target->plainSubstring(selected) == m_found)
            m_target->changeSpelling(m_word);
        findNext();
    });
    connect(m_findNext, &QPushButton::clicked, this, &SpellingPanel::findNext);
    connect(m_ignore, &QPushButton::clicked, this, [this] {
        if (m_target && !m_found.isEmpty()) {
            m_ignore->setProperty("spellingWord", m_found);
            m_target->ignoreSpelling(m_ignore);
            findNext();
        }
    });
    connect(m_learn, &QPushButton::clicked, this, [this] {
        if (m_target && !m_found.isEmpty()) {
            m_target->textCheckingController().learnSpelling(m_found);
            findNext();
        }
    });
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        const QString language = m_language->itemData(index).toString();
        if (SpellChecker::shared().setLanguage(language)) {
            SpellChecker::rememberLanguage(language);
            TextCheckingController::checkEveryTextAgain();
        }
        refresh();
    });
    connect(m_grammar, &QCheckBox::toggled, this, [this](bool on) {
        if (m_target && m_target->isGrammarCheckingEnabled() != on)
            m_target->toggleGrammarChecking(m_grammar);
    });
    m_observer = platform::NotificationCenter::defaultCenter().addObserver(
        SpellChecker::panelsNeedUpdate, nullptr, [panel = QPointer<SpellingPanel>(this)](const auto&) {
            if (panel)
                QMetaObject::invokeMethod(panel, &SpellingPanel::refresh, Qt::QueuedConnection);
        });
    followFocus(this);
    showNothingFound();
    refresh();
}

SpellingPanel::~SpellingPanel()
{
    platform::NotificationCenter::defaultCenter().removeObserver(m_observer);
}

void SpellingPanel::setTarget(QWidget* textView)
{
    // What was found in a view that closes can be neither changed nor ignored, and what was found
    // in one note is not another's to change or ignore.
    EDTextView* view = qobject_cast<EDTextView*>(textView);
    const bool another = view != m_target;
    serve(this, m_target, m_targetGone, view, [this] { showNothingFound(); });
    if (another)
        showNothingFound();
    else
        refresh();
}

EDTextView* SpellingPanel::target() const
{
    return m_target;
}

void SpellingPanel::refresh()
{
    const int index = m_language->findData(SpellChecker::shared().language());
    if (index >= 0)
        m_language->setCurrentIndex(index);
    const bool grammar = m_target && m_target->isGrammarCheckingEnabled();
    if (m_grammar->isChecked() != grammar) {
        const QSignalBlocker blocker(m_grammar);
        m_grammar->setChecked(grammar);
    }
    m_grammar->setEnabled(
        m_target && m_target->isEditable() && SpellChecker::shared().isGrammarCheckingAvailable());
    m_change->setEnabled(m_target && m_target->isEditable() && !m_found.isEmpty());
    m_findNext->setEnabled(m_target);
    m_ignore->setEnabled(m_target && !m_found.isEmpty());
    m_learn->setEnabled(m_target && !m_found.isEmpty());
}

void SpellingPanel::findNext()
{
    if (m_target)
        m_target->checkSpelling(m_findNext);
}

void SpellingPanel::showFinding(
    const QString& text, const platform::TextCheckingResult& finding, const QStringList& guesses)
{
    m_found = text;
    m_guesses->clear();
    if (finding.type == platform::TextCheckingType::spelling) {
        m_problem->setText(tr("\u201C%1\u201D is not in the dictionary.").arg(text));
        m_guesses->addItems(guesses);
        if (guesses.isEmpty())
            m_word->setText(text);
        else
            m_guesses->setCurrentRow(0);
    } else {
        m_problem->setText(finding.description.isEmpty() ? tr("This sentence may not be grammatical.")
                                                         : finding.description);
        m_guesses->addItems(finding.corrections);
        m_word->setText(finding.corrections.value(0, text));
    }
    refresh();
}

void SpellingPanel::showNothingFound()
{
    m_found.clear();
    m_guesses->clear();
    m_word->clear();
    m_problem->setText(tr("No spelling or grammar problems found."));
    refresh();
}

SubstitutionsPanel& SubstitutionsPanel::shared()
{
    QPointer<SubstitutionsPanel>& panel = sharedSubstitutionsPanel();
    if (!panel)
        panel = new SubstitutionsPanel;
    return *panel;
}

SubstitutionsPanel::SubstitutionsPanel()
{
    setWindowTitle(tr("Substitutions"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &QObject::deleteLater);
    setModal(false);
    m_quotes = new QCheckBox(tr("Smart quotes"));
    m_completion = new QCheckBox(tr("Text completion"));
    m_correction = new QCheckBox(tr("Correct spelling automatically"));
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_quotes);
    layout->addWidget(m_completion);
    layout->addWidget(m_correction);
    layout->addStretch();
    layout->addWidget(close);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::close);

    const struct {
        QCheckBox* box;
        bool (EDTextView::*flag)() const;
        EDTextView::Command toggle;
    } boxes[] = {
        { m_quotes, &EDTextView::isAutomaticQuoteSubstitutionEnabled,
            &EDTextView::toggleAutomaticQuoteSubstitution },
        { m_completion, &EDTextView::isAutomaticTextCompletionEnabled,
            &EDTextView::toggleAutomaticTextCompletion },
        { m_correction, &EDTextView::isAutomaticSpellingCorrectionEnabled,
            &EDTextView::toggleAutomaticSpellingCorrection },
    };
    for (const auto& each : boxes) {
        connect(each.box, &QCheckBox::toggled, this, [this, each](bool on) {
            if (m_target && ((*m_target).*each.flag)() != on)
                ((*m_target).*each.toggle)(each.box);
        });
    }
    m_observer = platform::NotificationCenter::defaultCenter().addObserver(
        SpellChecker::panelsNeedUpdate, nullptr, [panel = QPointer<SubstitutionsPanel>(this)](const auto&) {
            if (panel)
                QMetaObject::invokeMethod(panel, &SubstitutionsPanel::refresh, Qt::QueuedConnection);
        });
    followFocus(this);
    refresh();
}

SubstitutionsPanel::~SubstitutionsPanel()
{
    platform::NotificationCenter::defaultCenter().removeObserver(m_observer);
}

void SubstitutionsPanel::setTarget(QWidget* textView)
{
    // Settings of a view that closed are no longer anyone's to change.
    serve(this, m_target, m_targetGone, qobject_cast<EDTextView*>(textView), [this] { refresh(); });
    refresh();
}

EDTextView* SubstitutionsPanel::target() const
{
    return m_target;
}

void SubstitutionsPanel::refresh()
{
    const std::pair<QCheckBox*, bool> states[] = {
        { m_quotes, m_target && m_target->isAutomaticQuoteSubstitutionEnabled() },
        { m_completion, m_target && m_target->isAutomaticTextCompletionEnabled() },
        { m_correction, m_target && m_target->isAutomaticSpellingCorrectionEnabled() },
    };
    for (const auto& [box, on] : states) {
        const QSignalBlocker blocker(box);
        box->setChecked(on);
        box->setEnabled(m_target && m_target->isEditable());
    }
}
