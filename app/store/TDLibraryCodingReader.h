#pragma once

#include "app/model/TDCompactUrl.h"
#include "platform/foundation/Uuid.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// Reads the JSON text of a library file value by value, straight into the values records hold, with
// no parsed document in between: a document of a large library takes several times the file's size
// and leaves the heap in pieces once freed.
//
// It takes a strict subset of what QJsonDocument takes and gives the same values for it. Anything
// else stops it (`ok()` turns false, and every later call fails): malformed JSON, an escape in a
// key, an unknown escape or one that gives a lone surrogate, a byte-order mark, a number out of
// range, nesting deeper than `maximumDepth`. The caller then decodes the file through a document,
// which gives its records when it takes the text and its error when it does not.
class TDLibraryCodingReader {
public:
    static constexpr int maximumDepth = 64;

    explicit TDLibraryCodingReader(QByteArrayView text)
        : m_at(text.data())
        , m_end(text.data() + text.size())
    {
    }

    bool ok() const { return m_ok; }
    // Stops the reader; returns false so that decoders can `return reader.fail();`.
    bool fail()
    {
        m_ok = false;
        m_at = m_end;
        return false;
    }

    // The whole text as one array, with nothing but white space around it. `element()` reads one
    // element and returns false when it cannot.
    template<typename Element> bool readDocument(Element element)
    {
        if (!readDocumentStart())
            return false;
        if (consume(']')) {
            skipSpace();
            return m_at == m_end || fail();
        }
        return readElementsUntil(nullptr, element);
    }

    // The start of the whole text as one array: white space and its opening bracket.
    bool readDocumentStart()
    {
        if (m_end - m_at >= 3 && QByteArrayView(m_at, 3) == "\xEF\xBB\xBF")
            return fail();
        return (consume('[') && enter()) || fail();
    }
    // Goes on from an element start within the one array of the text, as the reading of the text
    // before it would have been.
    void resumeInDocument() { m_depth = 1; }

    // The elements of the text's array from here, up to `stop`: true when the comma after an element
    // ends exactly at `stop`, so that `stop` is an element's start too. Without a stop, up to the
    // array's closing bracket, with nothing but white space after it.
    template<typename Element> bool readElementsUntil(const char* stop, Element element)
    {
        for (;;) {
            if (!element())
                return fail();
            if (consume(',')) {
                if (stop && m_at >= stop)
                    return m_at == stop || fail();
                continue;
            }
            if (stop || !consume(']'))
                return fail();
            skipSpace();
            return m_at == m_end || fail();
        }
    }

    template<typename Element> bool readArray(Element element)
    {
        if (!consume('[') || !enter())
            return fail();
        if (!consume(']')) {
            do {
                if (!element())
                    return fail();
            } while (consume(','));
            if (!consume(']'))
                return fail();
        }
        --m_depth;
        return m_ok;
    }

    // An object: `member(key)` for each key, which reads the key's value (or skips it) and returns
    // false when it cannot. Keys are given as their raw UTF-8 text.
    template<typename Member> bool readObject(Member member)
    {
        if (!consume('{') || !enter())
            return fail();
        if (!consume('}')) {
            do {
                skipSpace();
                Token key;
                if (!scanString(key) || key.escaped || !consume(':') || !member(key.raw))
                    return fail();
            } while (consume(','));
            if (!consume('}'))
                return fail();
        }
        --m_depth;
        return m_ok;
    }

    // Whether the next value is an object (it is not read).
    bool atObject()
    {
        skipSpace();
        return m_at < m_end && *m_at == '{';
    }
    // Reads a null if one comes next.
    bool readNull();

    std::optional<QString> string();
    // Finite only: QJsonDocument refuses the rest. -0 reads as 0, as there.
    std::optional<double> number();
    std::optional<bool> boolean();
    // A string in platform::Uuid's canonical form.
    std::optional<platform::Uuid> uuid();
    // A string that platform::Url::fromString takes.
    std::optional<TDCompactUrl> url();
    bool skipValue();
    // Skips a value and gives its text as it stands in the file.
    std::optional<QByteArrayView> rawValue()
    {
        skipSpace();
        const char* start = m_at;
        if (!skipValue())
            return std::nullopt;
        return QByteArrayView(start, m_at);
    }

private:
    struct Token {
        QByteArrayView raw;
        bool escaped = false;
    };

    void skipSpace()
    {
        while (m_at < m_end && (*m_at == ' ' || *m_at == '\n' || *m_at == '\r' || *m_at == '\t'))
            ++m_at;
    }
    bool consume(char c)
    {
        skipSpace();
        if (m_at == m_end || *m_at != c)
            return false;
        ++m_at;
        return true;
    }
    bool enter() { return ++m_depth <= maximumDepth; }
    // Reads a string up to its closing quote, checking its UTF-8 and escapes. `raw` is its text
    // between the quotes, escapes undone only by `decode`.
    bool scanString(Token& token);
    static QString decode(const Token& token);
    bool literal(QByteArrayView word);

    const char* m_at;
    const char* m_end;
    int m_depth = 0;
    bool m_ok = true;
};
