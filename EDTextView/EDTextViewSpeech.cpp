#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/foundation/Print.h"
#include "platform/ui/SpeechSynthesizer.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>

void EDTextView::setSpeechSynthesizer(std::unique_ptr<platform::SpeechSynthesizer> synthesizer)
{
    if (m_speechSynthesizer) {
        m_speechSynthesizer->stopSpeaking();
        delete m_speechSynthesizer;
    }
    m_speechSynthesizer = synthesizer.release();
    if (m_speechSynthesizer)
        m_speechSynthesizer->setParent(this);
}

void EDTextView::startSpeaking(QObject* sender)
{
    stopSpeaking(sender);
    // The selected text in document order, or, with only carets, the whole text. Formatting has
    // no voice, so plain text is spoken.
    QString text;
    const auto ranges = edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true);
    if (ranges.empty()) {
        text = m_textContentStorage->string();
    } else {
        for (const platform::TextRange& range : ranges) {
            if (!text.isEmpty())
                text += u'\n';
            text += m_textContentStorage->substring(range);
        }
    }
    if (text.isEmpty())
        return;
    platform::SpeechUtterance utterance;
    utterance.text = std::move(text);
    utterance.prefersAssistiveTechnologySettings = true;
    const auto result = speechSynthesizer().speak(utterance);
    if (result.isFailure()) {
        platform::printError(QStringLiteral("Cannot speak the text: %1").arg(result.error().description));
        // Chosen from a menu, a silence with no word on the screen reads as a program that did not
        // hear the click.
        auto* box = new QMessageBox(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(),
            tr("The text cannot be spoken."), QMessageBox::Close, this);
        box->setObjectName(QStringLiteral("speechFailure"));
        // The desktop's icon where its theme has one; the toolkit's own bitmap looks out of place.
        const QIcon icon = QIcon::fromTheme(QStringLiteral("dialog-information"));
        if (!icon.isNull())
            box->setIconPixmap(icon.pixmap(QSize(48, 48), box->devicePixelRatioF()));
        box->setTextFormat(Qt::PlainText);
        box->setInformativeText(result.error().description);
        box->setWindowModality(Qt::WindowModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
}

void EDTextView::stopSpeaking(QObject*)
{
    // The word under way is still heard, so speech never ends in the middle of a word.
    if (m_speechSynthesizer && m_speechSynthesizer->isSpeaking())
        m_speechSynthesizer->stopSpeaking(platform::SpeechBoundary::word);
}
