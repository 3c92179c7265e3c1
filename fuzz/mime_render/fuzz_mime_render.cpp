// Recipient fields, names, subjects and texts come from imported files and databases: any
// of them, in any charset of the table, must render into a header whose every line is a
// header line or a fold, and a body without a line that would end DATA.

#include "smtp/Charsets.h"
#include "smtp/KTWSMTPAddress.h"
#include "smtp/KTWSMTPMessage.h"

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
    message.setFrom(CKTWSMTPAddress(field(0)));
    message.to() = CKTWSMTPAddress::parseList(field(1));
    message.cc() = CKTWSMTPAddress::parseList(field(2));
    message.setSubject(field(3));
    message.addTextBody(field(4));
    if (data[0] & 0x80) {
        message.addHtmlBody(field(5));
    }

    const QByteArray header = message.header();
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
        if (text.contains('\r')) {
            abort();
        }
    }
    const QByteArray body = message.body();
    if (body.startsWith(".\r\n") || body == "." || body.contains("\r\n.\r\n")) {
        abort();
    }
    return 0;
}
