#include "compose/MailPreview.h"

#include <QFile>
#include <QLocale>
#include <QUrl>

#include "compose/TemplateLibrary.h"
#include "resources/Strings.h"

namespace pw {

QString previewTextBlock(const PreviewMessage& m, const QDateTime& now) {
    const QString crlf = QStringLiteral("\r\n");
    QString out;
    out += QStringLiteral("From: ") + m.senderName + u'<' + m.senderAddress + u'>' + crlf;
    out += QStringLiteral("Subject: ") + m.subject + crlf;
    for (const QString& a : m.to) {
        out += QStringLiteral("To: ") + a + crlf;
    }
    for (const QString& a : m.cc) {
        out += QStringLiteral("Cc: ") + a + crlf;
    }
    for (const QString& a : m.bcc) {
        out += QStringLiteral("Bcc: ") + a + crlf;
    }
    out += QStringLiteral("MimeVersion 1.0 ") + crlf;
    out += QStringLiteral("X-Mailer: Postwick Dezo Version 7") + crlf;
    out += QStringLiteral("Content-Type: text/plain; charset=\"") + m.charset + u'"' + crlf;
    out += QStringLiteral("Content-Transfer-Encoding: ") + m.transferEncoding + crlf;
    out += m.messageIdHeader + crlf;
    // the date line is the user's, in the language of the interface
    const QLocale locale = currentLanguage() == Language::Japanese
                               ? QLocale(QLocale::Japanese, QLocale::Japan)
                               : QLocale(QLocale::English, QLocale::UnitedStates);
    out += locale.toString(now, str(ids::kPreviewDateFormat)) + crlf + crlf;
    out += m.body;
    return out;
}

QString mobilePhoneText(const QString& block) {
    QString out;
    qsizetype start = 0;
    while (start < block.size()) {
        const qsizetype lf = block.indexOf(u'\n', start);
        if (lf < 0) {
            out += block.mid(start);  // the last line without a break stays whole
            break;
        }
        QString line = block.mid(start, lf - start);
        const bool cr = line.endsWith(u'\r');
        if (cr) {
            line.chop(1);
        }
        if (line.size() > 10) {
            out += line.left(10) + QStringLiteral("\r\n") + line.mid(10);
        } else {
            out += line;
        }
        out += cr ? QStringLiteral("\r\n") : QStringLiteral("\n");
        start = lf + 1;
    }
    return out;
}

QString displayableHtml(const PreviewMessage& m) {
    QString html = m.html;
    for (const auto& [id, path] : m.inlineParts) {
        if (!id.isEmpty()) {
            html.replace(QStringLiteral("cid:") + id, QUrl::fromLocalFile(path).toString());
        }
    }
    return html;
}

CMailPreview::CMailPreview(std::unique_ptr<IPreviewSource> source, QString previewFolder)
    : m_source(std::move(source)), m_folder(std::move(previewFolder)) {
    m_count = m_source ? m_source->count() : 0;
}

CMailPreview::~CMailPreview() = default;

QString CMailPreview::positionText() const {
    return QString::number(m_index + 1) + u'/' + QString::number(m_count);
}

void CMailPreview::build(const QDateTime& now) {
    m_message = m_source ? m_source->message(m_index) : PreviewMessage{};
    m_text = previewTextBlock(m_message, now);
    m_mobile = mobilePhoneText(m_text);
    QFile::remove(htmlFile());
    if (m_message.hasHtml) {
        (void)writeHtmlFile(htmlFile(), displayableHtml(m_message));
        m_htmlTarget = htmlFile();
    } else {
        m_htmlTarget = QStringLiteral("about:blank");
    }
}

bool CMailPreview::next() {
    if (!canGoOn()) {
        return false;
    }
    ++m_index;
    build();
    return true;
}

bool CMailPreview::previous() {
    if (!canGoBack()) {
        return false;
    }
    --m_index;
    build();
    return true;
}

void CMailPreview::close() {
    QFile::remove(htmlFile());
}

}  // namespace pw
