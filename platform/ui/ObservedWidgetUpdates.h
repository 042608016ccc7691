#pragma once

#include <QAbstractButton>
#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalBlocker>
#include <QString>

#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// Helpers a render uses to update its children in place: each writes only what differs, with the
// widget's signals blocked, so a render never feeds back into the state it reads and never resets
// what the user is doing (a cursor position, a selection, an open pop-up).
namespace platform {

// Returns whether the text was written.
bool setTextIfChanged(QLabel* label, const QString& text);
// Leaves the line edit alone while its text already matches, so typing keeps its cursor and
// undo history; when the state differs it writes the text without emitting textEdited/textChanged.
bool setTextIfChanged(QLineEdit* edit, const QString& text);
bool setCheckedIfChanged(QAbstractButton* button, bool checked);
bool setEnabledIfChanged(QWidget* widget, bool enabled);
bool setVisibleIfChanged(QWidget* widget, bool visible);

// One entry of a combo box: an identifier kept as the item's data, and the text shown.
struct ComboItem {
    QString identifier;
    QString text;
    bool operator==(const ComboItem&) const = default;
};

// Makes `combo` hold `items` in order with `selectedIdentifier` current (none if it is not among
// them). The list is rebuilt only when it differs, so an open pop-up is not closed by a render
// that changed nothing in it.
void syncCombo(QComboBox* combo, const std::vector<ComboItem>& items, const QString& selectedIdentifier);

// A list of child widgets reconciled by key across renders: a key seen before keeps its widget
// (and everything the widget holds), a new key makes one, a key that is gone has its widget
// deleted. Keys must be unique within one call; a repeated key is skipped.
template<typename W> class KeyedChildren {
public:
    using Make = std::function<W*(const std::string& key)>;
    using Update = std::function<void(W*, const std::string& key)>;

    // Returns the widgets in the order of `keys`. `update` runs on every widget, new or kept.
    std::vector<W*> reconcile(
        const std::vector<std::string>& keys, const Make& make, const Update& update = {})
    {
        // Looked up by key: a list of thousands of rows is reconciled on every change.
        std::unordered_map<std::string, QPointer<W>> existing;
        existing.reserve(m_children.size());
        for (auto& [key, widget] : m_children)
            existing.emplace(key, widget);
        std::vector<std::pair<std::string, QPointer<W>>> next;
        next.reserve(keys.size());
        std::unordered_set<std::string> seen;
        for (const auto& key : keys) {
            if (!seen.insert(key).second)
                continue;
            W* widget = nullptr;
            if (auto found = existing.find(key); found != existing.end()) {
                widget = found->second;
                existing.erase(found);
            }
            if (!widget)
                widget = make(key);
            if (!widget)
                continue;
            if (update)
                update(widget, key);
            next.emplace_back(key, widget);
        }
        for (auto& [key, widget] : existing)
            discard(widget);
        m_children = std::move(next);
        m_positions.clear();
        m_positions.reserve(m_children.size());
        for (std::size_t i = 0; i < m_children.size(); ++i)
            m_positions.emplace(m_children[i].first, i);
        return widgets();
    }

    std::vector<W*> widgets() const
    {
        std::vector<W*> result;
        for (const auto& [key, widget] : m_children) {
            if (widget)
                result.push_back(widget);
        }
        return result;
    }

    W* child(const std::string& key) const
    {
        const auto found = m_positions.find(key);
        return found == m_positions.end() ? nullptr : m_children[found->second].second.data();
    }

    std::size_t size() const { return m_children.size(); }

    // Puts the children in order into `layout` from `firstIndex` on, moving only those out of place.
    void arrange(QBoxLayout* layout, int firstIndex = 0) const
    {
        int index = firstIndex;
        for (W* widget : widgets()) {
            // The item at its place first: asking the layout where a widget is walks all its items,
            // so a widget never laid out is not looked for (thousands of new rows would make that a
            // walk each), as the layout itself does not.
            QLayoutItem* item = layout->itemAt(index);
            if (!item || item->widget() != widget) {
                if (widget->testAttribute(Qt::WA_LaidOut))
                    layout->removeWidget(widget);
                layout->insertWidget(index, widget);
            }
            ++index;
        }
    }

private:
    static void discard(W* widget)
    {
        if (!widget)
            return;
        // Later, not now: the widget may be the sender of the signal whose handler changed state.
        widget->hide();
        if (QWidget* parent = widget->parentWidget(); parent && parent->layout())
            parent->layout()->removeWidget(widget);
        widget->deleteLater();
    }

    std::vector<std::pair<std::string, QPointer<W>>> m_children;
    std::unordered_map<std::string, std::size_t> m_positions; // where each key is in m_children
};

} // namespace platform
