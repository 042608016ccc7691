#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace platform {

// A URL over QUrl. File URLs are only ever built from local paths (so "?" and "#" in a name stay
// part of the path), and the text form is the fully percent-escaped absolute string. A default
// Url is invalid: file operations refuse it.
class Url {
public:
    Url() = default;
    explicit Url(QUrl url);

    // The file URL of an absolute local path; invalid for an empty or relative path.
    static Url fileUrl(const QString& absolutePath);

    // Parses text strictly (QUrl's strict mode); no value for empty or malformed text.
    static std::optional<Url> fromString(const QString& text);

    bool isValid() const { return m_url.isValid() && !m_url.isEmpty(); }
    // A "file" URL that names one file on this machine: no host but "localhost", an absolute path,
    // no NUL, no escaped "/" and no escaped bytes that are not UTF-8 in it. Others ("file:notes.txt",
    // "file://server/x", "file:///a%00b", "file:///caf%E9") would be taken for another path, so file
    // operations refuse them as they do any other URL.
    bool isFileUrl() const { return m_localFile; }

    // The fully percent-escaped text, e.g. "file:///home/a/My%20Project".
    QString absoluteString() const;

    // The local path of a file URL (percent escapes decoded); empty for any other URL.
    QString path() const;

    // "/" followed by each path component, as the platform lists them: "/a/b" gives "/", "a", "b".
    QStringList pathComponents() const;
    QString lastPathComponent() const;

    // This URL with one more path component. The component must be a single safe name: an empty
    // name, ".", "..", or one holding "/" or NUL gives an invalid Url, so a name can never step
    // out of its folder or into a nested one.
    Url appendingPathComponent(const QString& component) const;
    Url deletingLastPathComponent() const;

    // Whether this file URL's path lies strictly inside `folder`'s path (lexically, after removing
    // "." and ".." segments).
    bool isStrictlyInside(const Url& folder) const;

    const QUrl& qUrl() const { return m_url; }

    friend bool operator==(const Url& a, const Url& b) { return a.absoluteString() == b.absoluteString(); }

private:
    enum class KnownLocal { yes };
    Url(QUrl url, KnownLocal);

    QUrl m_url;
    bool m_localFile = false;
};

// Whether `name` can be one path component: not empty, ".", "..", and without "/" or NUL.
bool isSinglePathComponent(const QString& name);

} // namespace platform
