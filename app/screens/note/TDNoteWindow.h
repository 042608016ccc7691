#pragma once

#include "app/TDStores.h"
#include "platform/ui/ObservedWidget.h"

#include <functional>
#include <memory>

class QLabel;
class TDNote;

// A two-way binding to a note window's note (absent when the window has none).
struct TDNoteBinding {
    std::function<std::shared_ptr<TDNote>()> get;
    std::function<void(std::shared_ptr<TDNote>)> set;
};

// The content of one "Note" window. For now a plain stand-in for the note editor.
class TDNoteWindow : public platform::ObservedWidget {
public:
    TDNoteWindow(TDNoteBinding note, TDStores stores, QWidget* parent = nullptr);

protected:
    void render() override;

private:
    TDNoteBinding m_note;
    TDStores m_stores;
    QLabel* m_title;
};
