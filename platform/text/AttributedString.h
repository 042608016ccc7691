#pragma once

#include "platform/text/AttributeRuns.h"
#include "platform/text/TextAttributes.h"

#include <QString>

#include <functional>
#include <vector>

namespace platform {

// Text with attribute runs. The runs cover the text exactly and adjacent runs never carry equal
// attributes, so a document typed in one style stays one run however it was edited.
class AttributedString {
public:
    using Run = AttributeRun;
    // A range of the string as (start, length) in UTF-16 units.
    struct Span {
        qsizetype start = 0;
        qsizetype length = 0;
        bool operator==(const Span&) const = default;
    };

    AttributedString() = default;
    explicit AttributedString(const QString& text, const TextAttributes& attributes = {});

    qsizetype length() const { return m_text.size(); }
    bool isEmpty() const { return m_text.isEmpty(); }
    const QString& string() const { return m_text; }
    const std::vector<Run>& runs() const { return m_runs.list(); }

    AttributedString mid(qsizetype start, qsizetype length) const;
    // Room for `units` in all, so that appending piece by piece allocates once.
    void reserve(qsizetype units) { m_text.reserve(units); }
    void append(const AttributedString& other);
    void replace(qsizetype start, qsizetype length, const AttributedString& replacement);
    void insert(qsizetype at, const AttributedString& text) { replace(at, 0, text); }
    void remove(qsizetype start, qsizetype length) { replace(start, length, {}); }

    void setAttributes(const TextAttributes& attributes, qsizetype start, qsizetype length);
    void addAttributes(const TextAttributes& attributes, qsizetype start, qsizetype length);
    void removeAttribute(const QString& key, qsizetype start, qsizetype length);

    // The attributes at an index (the last run's at the end); `effective` receives the run's span.
    TextAttributes attributes(qsizetype index, Span* effective = nullptr) const;
    QVariant attribute(const QString& key, qsizetype index) const { return attributes(index).value(key); }
    // Calls `body` for each run inside the span, clipped to it; `body` answers false to stop.
    void enumerateAttributes(Span span, const std::function<bool(const TextAttributes&, Span)>& body) const;
    // Calls `body` for each maximal stretch inside the span that has one value of `key` (an
    // invalid QVariant where it has none).
    void enumerateAttribute(
        const QString& key, Span span, const std::function<bool(const QVariant&, Span)>& body) const;

    bool operator==(const AttributedString&) const = default;

private:
    friend class TextBlocks;
    // Runs that cover `text` exactly, merged as the class keeps them.
    AttributedString(QString text, AttributeRuns runs);

    template<typename Change> void changeAttributes(qsizetype start, qsizetype length, Change change);

    QString m_text;
    AttributeRuns m_runs;
};

} // namespace platform
