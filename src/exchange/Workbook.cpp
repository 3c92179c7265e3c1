#include "exchange/Workbook.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace pw::exchange {

std::unique_ptr<Workbook> Workbook::open(const QString& path, ReadResult& status) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        status.status = ReadStatus::CannotOpen;
        status.detail = file.errorString();
        return nullptr;
    }
    const QByteArray head = file.read(8);
    if (head.startsWith("PK\x03\x04"))
        return openXlsxWorkbook(path, status);
    if (head == QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) {
        // A password-protected zip workbook is stored as a compound file holding the
        // encrypted package; anything else in that container is a legacy workbook.
        file.seek(0);
        // read(n) reserves n bytes at once: ask only for what the file has
        const QByteArray body = file.read(std::min<qint64>(file.size(), 64LL * 1024 * 1024));
        static const QByteArray marker =
            QByteArray("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32);
        if (body.contains(marker)) {
            status.status = ReadStatus::Encrypted;
            return nullptr;
        }
        return openXlsWorkbook(path, status);
    }
    status.status = ReadStatus::NotAWorkbook;
    return nullptr;
}

bool isDateFormat(int numFmtId, const QString& formatCode) {
    if ((numFmtId >= 14 && numFmtId <= 22) || (numFmtId >= 27 && numFmtId <= 36) ||
        (numFmtId >= 45 && numFmtId <= 47) || (numFmtId >= 50 && numFmtId <= 58)) {
        return true;
    }
    if (numFmtId < 164 || formatCode.isEmpty())
        return false;
    // Only the first section (positive numbers) decides; quoted texts, escaped characters
    // and bracketed colours or locales do not count, but elapsed times ([h], [mm]) do.
    bool inQuote = false;
    for (qsizetype i = 0; i < formatCode.size(); ++i) {
        const QChar c = formatCode[i];
        if (inQuote) {
            if (c == u'"')
                inQuote = false;
            continue;
        }
        if (c == u'"') {
            inQuote = true;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i;
        } else if (c == u';') {
            break;
        } else if (c == u'[') {
            const qsizetype close = formatCode.indexOf(u']', i);
            if (close < 0)
                break;
            const QString inside = formatCode.mid(i + 1, close - i - 1).toLower();
            if (!inside.isEmpty() &&
                (inside[0] == u'h' || inside[0] == u'm' || inside[0] == u's') &&
                inside.count(inside[0]) == inside.size()) {
                return true;
            }
            i = close;
        } else {
            const QChar l = c.toLower();
            if (l == u'g' && formatCode.mid(i, 7).compare(u"general", Qt::CaseInsensitive) == 0) {
                i += 6;
                continue;
            }
            if (l == u'y' || l == u'm' || l == u'd' || l == u'h' || l == u's')
                return true;
        }
    }
    return false;
}

QString formatWorkbookNumber(double value) {
    if (!std::isfinite(value))
        return {};
    // the 15 significant digits a spreadsheet keeps, so 0.1 + 0.2 reads 0.3 as it shows
    char digits[40];
    std::snprintf(digits, sizeof digits, "%.15g", value);
    QString text =
        QString::number(std::strtod(digits, nullptr), 'f', QLocale::FloatingPointShortest);
    if (text == u"-0")
        text = QStringLiteral("0");
    return text;
}

namespace {

const QDateTime kSerialEpoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);

}  // namespace

QString formatWorkbookDate(double serial, WorkbookDateForm form) {
    if (!std::isfinite(serial) || serial < 0 || serial > 2958466)  // beyond 9999-12-31
        return formatWorkbookNumber(serial);
    const qint64 ms = std::llround(serial * 86400000.0);
    const QDateTime when = kSerialEpoch.addMSecs(ms);
    const bool hasTime = ms % 86400000 != 0;
    const bool timeOnly = ms < 86400000;
    const QTime time = when.time();
    const QString timeText = form == WorkbookDateForm::Iso
                                 ? time.toString(time.second() ? u"HH:mm:ss" : u"HH:mm")
                                 : QLocale::system().toString(time, QLocale::ShortFormat);
    if (timeOnly)
        return timeText;
    const QString dateText = form == WorkbookDateForm::Iso
                                 ? when.date().toString(Qt::ISODate)
                                 : QLocale::system().toString(when.date(), QLocale::ShortFormat);
    return hasTime ? dateText + QLatin1Char(' ') + timeText : dateText;
}

double serialOfIsoDate(const QString& text) {
    QDateTime when = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!when.isValid()) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (date.isValid())
            when = QDateTime(date, QTime(0, 0), Qt::UTC);
    }
    if (!when.isValid()) {
        const QTime time = QTime::fromString(text, Qt::ISODateWithMs);
        if (!time.isValid())
            return std::nan("");
        return time.msecsSinceStartOfDay() / 86400000.0;
    }
    // the text's wall-clock time, whatever zone it names
    const QDateTime wall(when.date(), when.time(), Qt::UTC);
    return double(kSerialEpoch.msecsTo(wall)) / 86400000.0;
}

}  // namespace pw::exchange
