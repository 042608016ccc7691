#pragma once

#include "app/TDStores.h"
#include "platform/foundation/Uuid.h"
#include "platform/ui/ObservedWidget.h"

class QLabel;

// The content of one "Note" window, for the note of one id. It finds the note in the project store
// by that id on every render (never by a position remembered from earlier), so a note deleted or
// moved meanwhile is never mistaken for another. For now a plain stand-in for the note editor.
class TDNoteWindow : public platform::ObservedWidget {
public:
    TDNoteWindow(platform::Uuid noteId, TDStores stores, QWidget* parent = nullptr);

    const platform::Uuid& noteId() const { return m_noteId; }
    // The note's title as shown, or "No note" when the store no longer has it.
    QString shownTitle() const;

protected:
    void render() override;

private:
    platform::Uuid m_noteId;
    TDStores m_stores;
    QLabel* m_title;
};
