#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/SpellChecker.h"

#include <QDialog>
#include <QPointer>

class EDTextView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The spelling panel: one per program, working on the text view that last asked for it or that the
// user moved to since. It shows the problem the last "Find Next" found (a misspelt word with the
// dictionary's guesses, or a sentence that does not parse), lets the user change, ignore or learn
// the word, find the next problem, choose the dictionary among those installed, and turn grammar
// checking on or off.
class SpellingPanel : public QDialog {
    Q_OBJECT
public:
    static SpellingPanel& shared();
    ~SpellingPanel() override;
    // The panel when it has been made and is shown.
    static SpellingPanel* visiblePanel();

    void setTarget(QWidget* textView);
    EDTextView* target() const;
    void showFinding(
        const QString& text, const platform::TextCheckingResult& finding, const QStringList& guesses);
    void showNothingFound();

    QLabel* problemLabel() const { return m_problem; }
    QLineEdit* wordField() const { return m_word; }
    QListWidget* guessList() const { return m_guesses; }
    QPushButton* changeButton() const { return m_change; }
    QPushButton* findNextButton() const { return m_findNext; }
    QPushButton* ignoreButton() const { return m_ignore; }
    QPushButton* learnButton() const { return m_learn; }
    QComboBox* languageBox() const { return m_language; }
    QCheckBox* grammarBox() const { return m_grammar; }

private:
    SpellingPanel();
    void refresh();
    void findNext();

    QPointer<EDTextView> m_target;
    // The word or sentence the panel shows, as found in the text.
    QString m_found;
    QLabel* m_problem = nullptr;
    QLineEdit* m_word = nullptr;
    QListWidget* m_guesses = nullptr;
    QPushButton* m_change = nullptr;
    QPushButton* m_findNext = nullptr;
    QPushButton* m_ignore = nullptr;
    QPushButton* m_learn = nullptr;
    QComboBox* m_language = nullptr;
    QCheckBox* m_grammar = nullptr;
    QMetaObject::Connection m_targetGone;
    platform::NotificationCenter::Token m_observer;
};

// The substitutions panel: the automatic changes a text view makes as the user types, for the view
// that last asked for it or that the user moved to since.
class SubstitutionsPanel : public QDialog {
    Q_OBJECT
public:
    static SubstitutionsPanel& shared();
    ~SubstitutionsPanel() override;

    void setTarget(QWidget* textView);
    EDTextView* target() const;

    QCheckBox* smartQuotesBox() const { return m_quotes; }
    QCheckBox* textCompletionBox() const { return m_completion; }
    QCheckBox* spellingCorrectionBox() const { return m_correction; }

private:
    SubstitutionsPanel();
    void refresh();

    QPointer<EDTextView> m_target;
    QCheckBox* m_quotes = nullptr;
    QCheckBox* m_completion = nullptr;
    QCheckBox* m_correction = nullptr;
    QMetaObject::Connection m_targetGone;
    platform::NotificationCenter::Token m_observer;
};
