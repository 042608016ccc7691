#pragma once

#include "app/TDStores.h"
#include "app/screens/common/TDBinding.h"
#include "platform/text/TextRange.h"
#include "platform/ui/ObservedWidget.h"

#include <QColor>
#include <QString>

#include <memory>
#include <optional>

class BottomBar;
class EDTextEditView;
class QSplitter;
class TDLinksPane;
class TDNote;
class TDProject;

// What a note window shows of its note: the text editor and the note's links pane side by side in a
// horizontal split, and under both the bottom bar with the saved marker and the number of the
// note's links. The window owns the text and the marker; this view only passes them on.
class TDNoteView : public platform::ObservedWidget {
public:
    // The text keeps room for its find bar (stacked under its fields) and a few words a line; a
    // narrower window takes the width from the links pane.
    static constexpr int editorMinimumWidth = 340;

    TDNoteView(std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project, TDStores stores,
        TDBinding<QColor> color, TDBinding<QString> label, TDBinding<QString> text,
        QWidget* parent = nullptr);

    // The note and project shown (after a rename the note is the same record; after a move it may
    // sit in another project).
    void setNote(std::shared_ptr<TDNote> note, std::shared_ptr<TDProject> project);

    EDTextEditView* editor() const { return m_editor; }
    QSplitter* split() const { return m_split; }
    TDLinksPane* linksPane() const { return m_linksPane; }
    BottomBar* bottomBar() const { return m_bottomBar; }
    const std::optional<platform::CharacterRange>& selection() const { return m_selection; }

protected:
    void render() override;
    void changeEvent(QEvent* event) override;

private:
    std::shared_ptr<TDNote> m_note;
    std::shared_ptr<TDProject> m_project;
    TDStores m_stores;
    TDBinding<QColor> m_color;
    TDBinding<QString> m_label;
    TDBinding<QString> m_text;
    std::optional<platform::CharacterRange> m_selection;
    QSplitter* m_split;
    EDTextEditView* m_editor;
    TDLinksPane* m_linksPane;
    BottomBar* m_bottomBar;
};
