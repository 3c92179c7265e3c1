// Recipient fields, names, subjects and texts come from imported files and databases: any
// of them, in any charset of the table, must render into a header whose every line is a
// header line or a fold, and a body without a line that would end DATA; only addresses of the
// recipient text become recipients; no line is longer than SMTP carries and nothing 8-bit goes
// to a server that did not offer 8BITMIME.

#include "smtp/Charsets.h"
#include "smtp/KTWSMTPAddress.h"
#include "smtp/KTWSMTPMessage.h"
#include "smtp/MimeEncoding.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace pw::smtp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const int row = data[0] % (charsetCount() + 1);  // the last one: UTF-8
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                            static_cast<qsizetype>(size - 1));
    const QStringList fields = input.split(QChar(0x1F));
    auto field = [&](int i) { return i < fields.size() ? fields[i] : QString(); };

    CKTWSMTPMessage message;
    message.setCharset(row < charsetCount() ? QString::fromLatin1(charsetRow(row).mimeName)
                                            : QStringLiteral("UTF-8"));
    CKTWSMTPAddress from(field(0));
    if (!CKTWSMTPAddress::looksLikeMailAddress(from.address())) {
        from.setAddress(QStringLiteral("sender@example.jp"));  // a run's sender is an address
    }
    message.setFrom(from);
    // the recipient text as a run reads it: only addresses become recipients
    const CKTWSMTPAddress::RecipientList recipients = CKTWSMTPAddress::parseRecipientText(field(1));
    for (const CKTWSMTPAddress& a : recipients.addresses) {
        if (!CKTWSMTPAddress::looksLikeMailAddress(a.address()) || a.address().contains('\n')) {
            abort();
        }
    }
    message.to() = recipients.addresses;
    message.cc() = CKTWSMTPAddress::parseRecipientText(field(2)).addresses;
    message.setSubject(field(3));
    message.addTextBody(field(4));
    if (data[0] & 0x80) {
        message.addHtmlBody(field(5));
    }

    const BodyTransport transport =
        (data[0] & 0x40) ? BodyTransport::EightBit : BodyTransport::SevenBit;
    const QByteArray header = message.header(transport);
    if (!header.endsWith("\r\n")) {
        abort();
    }
    for (const QByteArray& line : header.split('\n')) {
        if (line.isEmpty()) {
            continue;  // after the final line end
        }
        if (!line.endsWith('\r')) {
            abort();  // a bare LF
        }
        const QByteArray text = line.chopped(1);
        const bool fold = text.startsWith(' ') || text.startsWith('\t');
        if (!fold && !text.contains(": ")) {
            abort();  // a line that is neither a field nor a fold
        }
        if (text.contains('\r') || text.size() > kMaxLineOctets) {
            abort();
        }
        for (const char c : text) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                abort();  // headers are 7-bit whatever the charset
            }
        }
    }
    const QByteArray body = message.body(transport);
    if (body.startsWith(".\r\n") || body == "." || body.contains("\r\n.\r\n")) {
        abort();
    }
    for (const QByteArray& line : body.split('\n')) {
        if (line.size() > kMaxLineOctets + 1) {
            abort();  // SMTP carries no longer line
        }
        if (transport == BodyTransport::SevenBit) {
            for (const char c : line) {
                if (static_cast<unsigned char>(c) >= 0x80) {
                    abort();  // 8-bit text to a server that did not offer 8BITMIME
                }
            }
        }
    }
    return 0;
}
