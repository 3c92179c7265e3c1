#include "exchange/TextReader.h"

#include <unicode/ucnv.h>

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cstdio>
#include <memory>

namespace pw::exchange {

QString importExtension(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot);
}

ReaderKind readerFor(const QString& path) {
    const QString ext = importExtension(path);
    return ext == u".xls" || ext == u".xlsx" ? ReaderKind::Workbook : ReaderKind::DelimitedText;
}

bool delimiterNeedsAsking(const QString& path) {
    return importExtension(path) != u".csv";
}

namespace {

constexpr QChar kQuote = u'"';

bool endsRecord(QChar c) {
    return c == u'\r' || c == u'\n';
}

// The end of a quoted field that starts at `from` (its opening quote), read as spreadsheet
// programs write it: "" is one quote, and a quote closes only before a delimiter, a line
// break or the end. -1 when it never closes; `value` receives the text between the quotes.
// `loneQuote`, when given, receives the position of the first quote that was taken as text.
qsizetype quotedFieldEnd(QStringView text, qsizetype from, QChar delimiter, QString* value,
                         qsizetype* loneQuote = nullptr) {
    for (qsizetype i = from + 1; i < text.size(); ++i) {
        if (text[i] != kQuote) {
            if (value)
                *value += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == kQuote) {
            if (value)
                *value += kQuote;
            ++i;
            continue;
        }
        if (i + 1 == text.size() || text[i + 1] == delimiter || endsRecord(text[i + 1]))
            return i + 1;
        if (value)
            *value += kQuote;  // a lone quote inside is text
        if (loneQuote && *loneQuote < 0)
            *loneQuote = i;
    }
    return -1;
}

}  // namespace

QStringList splitFields(QStringView line, QChar delimiter) {
    QStringList fields;
    qsizetype pos = 0;
    const qsizetype n = line.size();
    while (true) {
        const QStringView rest = line.sliced(pos);
        qsizetype end = -1;
        QString value;
        const qsizetype closed = !rest.isEmpty() && rest.front() == kQuote
                                     ? quotedFieldEnd(rest, 0, delimiter, &value)
                                     : -1;
        if (closed >= 0) {
            fields.append(value);
            end = closed < rest.size() ? closed : -1;
        } else {
            // plain, or a quote that never closes: the quoted state runs to the next quote
            bool quoted = !rest.isEmpty() && rest.front() == kQuote;
            for (qsizetype i = quoted ? 1 : 0; i < rest.size(); ++i) {
                const QChar c = rest[i];
                if (quoted) {
                    if (c == kQuote)
                        quoted = false;
                } else if (c == delimiter) {
                    end = i;
                    break;
                }
            }
            QStringView field = end < 0 ? rest : rest.first(end);
            if (!field.isEmpty() && field.front() == kQuote && field.back() == kQuote)
                field = field.size() >= 2 ? field.sliced(1, field.size() - 2) : QStringView();
            fields.append(field.toString());
        }
        if (end < 0)
            break;
        pos += end + 1;
        if (pos > n)
            break;
    }
    return fields;
}

QList<QStringView> splitRecords(QStringView text, QChar delimiter, int maxRecords) {
    QList<QStringView> records;
    const qsizetype n = text.size();
    // Off once a quoted field has not closed up to the end: from there on lines are records,
    // as they are in a file without quotes, and no line is read twice.
    bool quotesSpanLines = true;
    qsizetype i = 0;
    while (i < n && records.size() <= maxRecords) {
        while (i < n && endsRecord(text[i]))
            ++i;
        if (i >= n)
            break;
        const qsizetype start = i;
        bool fieldStart = true;
        bool lineEnded = false;
        while (i < n && !lineEnded) {
            const QChar c = text[i];
            if (fieldStart && c == kQuote && quotesSpanLines) {
                qsizetype loneQuote = -1;
                const qsizetype closed = quotedFieldEnd(text, i, delimiter, nullptr, &loneQuote);
                qsizetype lineEnd = i;
                while (lineEnd < n && !endsRecord(text[lineEnd]))
                    ++lineEnd;
                // A field that goes on past its line is taken whole only when it is written
                // as spreadsheet programs write it up to there; other lines read as they did.
                if (closed >= 0 && (closed <= lineEnd || loneQuote < 0 || loneQuote > lineEnd)) {
                    i = closed;
                    fieldStart = false;
                    continue;
                }
                // never closed: if lines follow, they are records from here on
                if (closed < 0 && lineEnd < n)
                    quotesSpanLines = false;
            }
            if (endsRecord(c)) {
                lineEnded = true;
                break;
            }
            fieldStart = c == delimiter;
            ++i;
        }
        records.append(text.sliced(start, i - start));
    }
    return records;
}

LegacyCodePage legacyCodePageFor(Language language) {
    return language == Language::Japanese ? LegacyCodePage::ShiftJis : LegacyCodePage::Windows1252;
}

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};

// Decodes with an ICU converter; lossy is set when some bytes had no character.
QString decodeWithIcu(const char* name, QByteArrayView bytes, bool* lossy) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterCloser> conv(ucnv_open(name, &status));
    if (U_FAILURE(status) || !conv) {
        if (lossy)
            *lossy = true;
        return QString::fromLatin1(bytes.data(), bytes.size());
    }
    // First try strictly, so that undecodable bytes are noticed, then substitute.
    ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    QString out;
    out.resize(bytes.size() + 16);
    auto convert = [&](UConverter* c) {
        status = U_ZERO_ERROR;
        const int32_t len =
            ucnv_toUChars(c, reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
                          bytes.data(), int32_t(bytes.size()), &status);
        return len;
    };
    int32_t len = convert(conv.get());
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(len + 1);
        len = convert(conv.get());
    }
    if (U_FAILURE(status)) {
        if (lossy)
            *lossy = true;
        ucnv_reset(conv.get());
        status = U_ZERO_ERROR;
        ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr,
                            &status);
        len = convert(conv.get());
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(len + 1);
            len = convert(conv.get());
        }
        if (U_FAILURE(status))
            len = 0;
    }
    out.truncate(len);
    return out;
}

bool startsWith(QByteArrayView bytes, std::initializer_list<unsigned char> sig) {
    if (bytes.size() < qsizetype(sig.size()))
        return false;
    qsizetype i = 0;
    for (unsigned char b : sig) {
        if (static_cast<unsigned char>(bytes[i++]) != b)
            return false;
    }
    return true;
}

// Unit layout of the file's text, so that lines can be counted before decoding.
enum class Layout { Bytes, Utf16LE, Utf16BE };

Layout layoutOf(QByteArrayView head) {
    if (startsWith(head, {0xFF, 0xFE}))
        return Layout::Utf16LE;
    if (startsWith(head, {0xFE, 0xFF}))
        return Layout::Utf16BE;
    return Layout::Bytes;
}

// Counts non-empty lines (runs of CR and LF separate them) across chunks, to find where
// the line past the limit begins.
class LineCounter {
public:
    LineCounter(Layout layout, int maxLines) : m_layout(layout), m_maxLines(maxLines) {}

    // Scans buffer from the last scanned unit on; returns the byte offset where line
    // maxLines + 1 begins, or -1 when the buffer does not reach it yet.
    qsizetype scan(QByteArrayView buffer) {
        const qsizetype unit = m_layout == Layout::Bytes ? 1 : 2;
        for (; m_offset + unit <= buffer.size(); m_offset += unit) {
            unsigned code;
            const auto* p = reinterpret_cast<const unsigned char*>(buffer.data() + m_offset);
            if (m_layout == Layout::Bytes) {
                code = p[0];
            } else if (m_layout == Layout::Utf16LE) {
                code = p[0] | (unsigned(p[1]) << 8);
            } else {
                code = (unsigned(p[0]) << 8) | p[1];
            }
            const bool lineBreak = code == 0x0D || code == 0x0A;
            if (lineBreak) {
                m_inLine = false;
            } else if (!m_inLine) {
                m_inLine = true;
                if (++m_lines > m_maxLines)
                    return m_offset;
            }
        }
        return -1;
    }

private:
    Layout m_layout;
    int m_maxLines;
    qsizetype m_offset = 0;
    int m_lines = 0;
    bool m_inLine = false;
};

struct Utf8Census {
    qsizetype validMultiByte = 0;  // well-formed sequences of two to four bytes
    qsizetype invalid = 0;         // bytes of 0x80 and above outside such sequences
};

Utf8Census utf8Census(QByteArrayView bytes) {
    Utf8Census c;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int len = 0;
        unsigned cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            cp = b & 0x07;
        }
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (ok) {
            // overlong forms, surrogates and values past U+10FFFF are no UTF-8
            ok = !(len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) &&
                 !(len == 4 && (cp < 0x10000 || cp > 0x10FFFF));
        }
        if (ok) {
            ++c.validMultiByte;
            i += len;
        } else {
            ++c.invalid;
            ++i;
        }
    }
    return c;
}

// JIS text: only 7-bit bytes, with an escape into a two-byte set (JIS X 0208 of 1978 or 1983).
bool carriesJisShifts(QByteArrayView bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return bytes.contains("\x1b$B") || bytes.contains("\x1b$@");
}

}  // namespace

DecodedText decodeImportText(QByteArrayView bytes, LegacyCodePage legacy) {
    DecodedText out;
    if (bytes.size() > 2 && startsWith(bytes, {0x2B, 0x2F, 0x76})) {
        out.encoding = QStringLiteral("UTF-7");
        out.text = decodeWithIcu("UTF-7", bytes, &out.lossy);
    } else if (bytes.size() > 2 && startsWith(bytes, {0xEF, 0xBB, 0xBF})) {
        out.encoding = QStringLiteral("UTF-8");
        QStringDecoder dec(QStringDecoder::Utf8);
        out.text = dec.decode(bytes.sliced(3));
        out.lossy = dec.hasError();
    } else if (bytes.size() >= 2 && layoutOf(bytes) != Layout::Bytes) {
        const bool le = layoutOf(bytes) == Layout::Utf16LE;
        out.encoding = le ? QStringLiteral("UTF-16LE") : QStringLiteral("UTF-16BE");
        QStringDecoder dec(le ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        out.text = dec.decode(bytes.sliced(2));
        out.lossy = dec.hasError();
    } else if (carriesJisShifts(bytes)) {
        // 7-bit, so it would pass as UTF-8: the escape sequences would stay in the fields as
        // control characters and every kanji as two ASCII letters ("$B3t<0...")
        out.encoding = QStringLiteral("ISO-2022-JP");
        out.text = decodeWithIcu("ISO-2022-JP", bytes, &out.lossy);
    } else {
        QStringDecoder dec(QStringDecoder::Utf8);
        QString text = dec.decode(bytes);
        const Utf8Census census = utf8Census(bytes);
        if (!dec.hasError()) {
            out.encoding = QStringLiteral("UTF-8");
            out.text = std::move(text);
        } else if (census.invalid * 4 <= census.validMultiByte) {
            // Mostly UTF-8 with a few stray bytes: a legacy decoding would garble every
            // character of the rest, so keep UTF-8 and say that some bytes were replaced.
            out.encoding = QStringLiteral("UTF-8");
            out.text = std::move(text);
            out.lossy = true;
        } else {
            out.legacyFallback = true;
            if (legacy == LegacyCodePage::ShiftJis) {
                out.encoding = QStringLiteral("Shift_JIS (CP932)");
                out.text = decodeWithIcu("windows-31j", bytes, &out.lossy);
            } else {
                out.encoding = QStringLiteral("Windows-1252");
                out.text = decodeWithIcu("windows-1252", bytes, &out.lossy);
            }
        }
    }
    // A signature that the converter handed through is not data.
    if (out.text.startsWith(QChar(0xFEFF)))
        out.text.remove(0, 1);
    out.hadNul = out.text.contains(QChar(u'\0'));
    out.text.remove(QChar(u'\0'));
    return out;
}

const QList<TextEncoding>& textEncodingChoices() {
    static const QList<TextEncoding> choices{TextEncoding::Detect,    TextEncoding::Utf8,
                                             TextEncoding::ShiftJis,  TextEncoding::EucJp,
                                             TextEncoding::Iso2022Jp, TextEncoding::Windows1252,
                                             TextEncoding::Utf16LE};
    return choices;
}

QString textEncodingName(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Detect:
            return {};
        case TextEncoding::Utf8:
            return QStringLiteral("UTF-8");
        case TextEncoding::ShiftJis:
            return QStringLiteral("Shift_JIS (CP932)");
        case TextEncoding::EucJp:
            return QStringLiteral("EUC-JP");
        case TextEncoding::Iso2022Jp:
            return QStringLiteral("ISO-2022-JP");
        case TextEncoding::Windows1252:
            return QStringLiteral("Windows-1252");
        case TextEncoding::Utf16LE:
            return QStringLiteral("UTF-16LE");
    }
    return {};
}

DecodedText decodeImportTextAs(QByteArrayView bytes, TextEncoding encoding, LegacyCodePage legacy) {
    if (encoding == TextEncoding::Detect)
        return decodeImportText(bytes, legacy);
    DecodedText out;
    out.encoding = textEncodingName(encoding);
    switch (encoding) {
        case TextEncoding::Utf8:
            if (startsWith(bytes, {0xEF, 0xBB, 0xBF}))
                bytes = bytes.sliced(3);
            out.text = decodeWithIcu("UTF-8", bytes, &out.lossy);
            break;
        case TextEncoding::ShiftJis:
            out.text = decodeWithIcu("windows-31j", bytes, &out.lossy);
            break;
        case TextEncoding::EucJp:
            out.text = decodeWithIcu("EUC-JP", bytes, &out.lossy);
            break;
        case TextEncoding::Iso2022Jp:
            out.text = decodeWithIcu("ISO-2022-JP", bytes, &out.lossy);
            break;
        case TextEncoding::Windows1252:
            out.text = decodeWithIcu("windows-1252", bytes, &out.lossy);
            break;
        case TextEncoding::Utf16LE:
            if (startsWith(bytes, {0xFF, 0xFE}))
                bytes = bytes.sliced(2);
            out.text = decodeWithIcu("UTF-16LE", bytes, &out.lossy);
            break;
        case TextEncoding::Detect:
            break;
    }
    if (out.text.startsWith(QChar(0xFEFF)))
        out.text.remove(0, 1);
    out.hadNul = out.text.contains(QChar(u'\0'));
    out.text.remove(QChar(u'\0'));
    return out;
}

ReadResult readDelimitedBytes(QByteArrayView bytes, Delimiter delimiter, ImportTable& table,
                              SteppedProgress& progress, LegacyCodePage legacy, int maxRows,
                              TextEncoding encoding) {
    ReadResult result;
    table.clear();
    DecodedText decoded = decodeImportTextAs(bytes, encoding, legacy);
    result.encoding = decoded.encoding;
    result.legacyFallback = decoded.legacyFallback;
    result.lossy = decoded.lossy;
    if (decoded.hadNul) {
        result.status = ReadStatus::NulCharacters;
        return result;
    }

    // Records are the non-empty runs between CR and LF characters, except that a quoted
    // field may hold line breaks.
    const QChar d = delimiterChar(delimiter);
    QList<QStringView> lines = splitRecords(decoded.text, d, maxRows);
    if (lines.size() > maxRows) {
        lines.resize(maxRows);
        result.stoppedAtLimit = true;
    }

    const int count = int(lines.size());
    table.rows.reserve(count);
    progress.setRange(0, count);
    progress.setPosition(0);
    progress.show();
    for (int i = 0; i < count; ++i) {
        table.rows.append(splitFields(lines[i], d));
        progress.advanceTo(i + 1);
    }
    result.rowCount = table.rowCount();
    return result;
}

ReadResult readDelimitedFile(const QString& path, Delimiter delimiter, ImportTable& table,
                             SteppedProgress& progress, LegacyCodePage legacy, int maxRows,
                             TextEncoding encoding) {
    table.clear();
    ReadResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QByteArray reason = file.errorString().toLocal8Bit().left(1024);
        std::printf("Couldn't open source file: %s", reason.constData());
        std::fflush(stdout);
        result.status = ReadStatus::CannotOpen;
        result.detail = file.errorString();
        return result;
    }
    // Read in chunks and stop where the line past the limit begins, so that an enormous
    // file costs no more memory than the rows an import can use.
    QByteArray buffer;
    constexpr qint64 chunk = 4 * 1024 * 1024;
    std::unique_ptr<LineCounter> counter;
    while (true) {
        const qsizetype old = buffer.size();
        buffer.resize(old + chunk);
        const qint64 got = file.read(buffer.data() + old, chunk);
        if (got < 0) {
            result.status = ReadStatus::CannotOpen;
            result.detail = file.errorString();
            std::printf("Couldn't open source file: %s",
                        file.errorString().toLocal8Bit().left(1024).constData());
            std::fflush(stdout);
            return result;
        }
        buffer.resize(old + got);
        if (!counter && (buffer.size() >= 3 || got == 0)) {
            counter = std::make_unique<LineCounter>(layoutOf(buffer), maxRows);
        }
        if (counter) {
            const qsizetype cut = counter->scan(buffer);
            if (cut >= 0) {
                buffer.truncate(cut);
                result.stoppedAtLimit = true;
                break;
            }
        }
        if (got == 0)
            break;
        if (buffer.size() > kMaxTextBytes) {
            result.status = ReadStatus::TooLarge;
            return result;
        }
    }
    file.close();
    const bool stopped = result.stoppedAtLimit;
    result = readDelimitedBytes(buffer, delimiter, table, progress, legacy, maxRows, encoding);
    result.stoppedAtLimit = result.stoppedAtLimit || stopped;
    return result;
}

}  // namespace pw::exchange
