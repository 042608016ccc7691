#pragma once

#include "app/screens/common/SymbolPainter.h"

#include <QWidget>

class QLabel;

// What a page shows when it has nothing to list: a symbol over a bold title and a wrapped
// description, centred in all the room there is.
class TDContentUnavailableView : public QWidget {
public:
    TDContentUnavailableView(
        const QString& title, Symbol symbol, const QString& description, QWidget* parent = nullptr);

    QString title() const;
    QString description() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyColors();

    Symbol m_symbol;
    QLabel* m_symbolLabel;
    QLabel* m_title;
    QLabel* m_description;
};
