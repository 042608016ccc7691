#pragma once

#include <QByteArray>
#include <QClipboard>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QMimeData;

namespace platform {

// A place text travels through between views and programs: the desktop's clipboard, its primary
// selection (what is selected, pasted with the middle button), or the data of one drag.
//
// Types are named by MIME type. Each kind of data also answers to the older names other programs
// used for it: "NSStringPboardType" is plain text, "NSRTFPboardType" RTF; and RTF is read whether
// a program offers it as "text/rtf", "application/rtf" or "text/richtext".
//
// Writing starts with `clearContents` and then adds one type after another to the same item, as
// the desktop expects to find them together. Main thread only.
class Pasteboard {
public:
    static inline const QString stringType = QStringLiteral("text/plain");
    static inline const QString legacyStringType = QStringLiteral("NSStringPboardType");
    static inline const QString rtfType = QStringLiteral("text/rtf");
    static inline const QString legacyRtfType = QStringLiteral("NSRTFPboardType");

    enum class Kind { string, rtf };
    // The kind of data a type names; none for a type that is neither text nor RTF.
    static std::optional<Kind> kind(const QString& type);

    // The desktop's clipboard.
    static Pasteboard& general();
    // The primary selection; it exists only where the desktop has one (X11, most Wayland
    // compositors), see `isAvailable`.
    static Pasteboard& selection();

    // Reads the data of a drop; nothing can be written to it.
    static std::unique_ptr<Pasteboard> reading(const QMimeData& data);
    // Writes into `data`, which the caller keeps (to hand it to a drag).
    static std::unique_ptr<Pasteboard> writing(QMimeData& data);

    ~Pasteboard();
    Pasteboard(const Pasteboard&) = delete;
    Pasteboard& operator=(const Pasteboard&) = delete;

    bool isAvailable() const;
    bool isWritable() const;

    // Starts a new item: what was there goes. The desktop's clipboard is cleared at once.
    void clearContents();
    // Adds data to the item `clearContents` started; false for an unknown type or when nothing
    // can be written here.
    bool setString(const QString& string, const QString& type = stringType);
    bool setData(const QByteArray& data, const QString& type);

    // Whether data of one of `types` is there.
    bool canReadItemWithDataConformingToTypes(const QStringList& types) const;
    std::optional<QString> string(const QString& type = stringType) const;
    std::optional<QByteArray> data(const QString& type) const;
    // What is there, as MIME types.
    QStringList types() const;

private:
    explicit Pasteboard(QClipboard::Mode mode);
    Pasteboard(const QMimeData* reading, QMimeData* writing);
    const QMimeData* source() const;
    // The MIME type the data of a kind is stored under, first, and those it is read from.
    static QStringList mimeTypes(Kind kind);

    std::optional<QClipboard::Mode> m_mode;
    const QMimeData* m_reading = nullptr;
    QMimeData* m_writing = nullptr;
    // What has been written to a clipboard since `clearContents`, published whole after each
    // addition (the clipboard takes a copy it owns).
    std::unique_ptr<QMimeData> m_pending;
};

} // namespace platform
