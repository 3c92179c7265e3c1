#include "exchange/TextReader.h"

#include <unicode/ucnv.h>

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

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

// The reading below works on UTF-16 units (the public splitting functions) and on UTF-8
// bytes (the file reader): every character it looks at is ASCII, and no byte of a UTF-8
// multi-byte sequence is.
template <typename C>
constexpr C kQuoteUnit = C('"');

template <typename C>
bool endsRecord(C c) {
    return c == C('\r') || c == C('\n');
}

// The end of a quoted field that starts at `from` (its opening quote), read as spreadsheet
// programs write it: "" is one quote, and a quote closes only before a delimiter, a line
// break or the end. -1 when it never closes. Its value is unquoted(text, from + 1, end - 1).
// `loneQuote`, when given, receives the position of the first quote that was taken as text.
template <typename C>
qsizetype quotedFieldEnd(const C* text, qsizetype n, qsizetype from, C delimiter,
                         qsizetype* loneQuote = nullptr) {
    for (qsizetype i = from + 1; i < n; ++i) {
        if (text[i] != kQuoteUnit<C>)
            continue;
        if (i + 1 < n && text[i + 1] == kQuoteUnit<C>) {
            ++i;
            continue;
        }
        if (i + 1 == n || text[i + 1] == delimiter || endsRecord(text[i + 1]))
            return i + 1;
        if (loneQuote && *loneQuote < 0)
            *loneQuote = i;  // a lone quote inside is text
    }
    return -1;
}

// Hands each field of one record to sink(const C* begin, qsizetype length, bool quoted); a
// quoted field's doubled quotes are still doubled (see unquote).
template <typename C, typename Sink>
void forEachField(const C* line, qsizetype n, C delimiter, Sink&& sink) {
    qsizetype pos = 0;
    while (true) {
        const C* rest = line + pos;
        const qsizetype restSize = n - pos;
        qsizetype end = -1;
        const bool startsQuoted = restSize > 0 && rest[0] == kQuoteUnit<C>;
        const qsizetype closed = startsQuoted ? quotedFieldEnd(rest, restSize, 0, delimiter) : -1;
        if (closed >= 0) {
            sink(rest + 1, closed - 2, true);
            end = closed < restSize ? closed : -1;
        } else {
            // plain, or a quote that never closes: the quoted state runs to the next quote
            bool quoted = startsQuoted;
            for (qsizetype i = quoted ? 1 : 0; i < restSize; ++i) {
                const C c = rest[i];
                if (quoted) {
                    if (c == kQuoteUnit<C>)
                        quoted = false;
                } else if (c == delimiter) {
                    end = i;
                    break;
                }
            }
            const C* field = rest;
            qsizetype size = end < 0 ? restSize : end;
            if (size > 0 && field[0] == kQuoteUnit<C> && field[size - 1] == kQuoteUnit<C>) {
                field = size >= 2 ? field + 1 : field;
                size = size >= 2 ? size - 2 : 0;
            }
            sink(field, size, false);
        }
        if (end < 0)
            break;
        pos += end + 1;
        if (pos > n)
            break;
    }
}

// Appends a quoted field's text to out with every doubled quote made one.
template <typename C, typename Out>
void unquote(const C* text, qsizetype size, Out& out) {
    qsizetype from = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (text[i] == kQuoteUnit<C> && i + 1 < size && text[i + 1] == kQuoteUnit<C>) {
            out.append(text + from, i + 1 - from);
            from = i + 2;
            ++i;
        }
    }
    out.append(text + from, size - from);
}

// Where a reading of records stands between pieces of a text.
struct RecordScan {
    int maxRecords = 0;
    qsizetype records = 0;
    // Off once a quoted field has not closed up to the end: from there on lines are records,
    // as they are in a file without quotes, and no line is read twice.
    bool quotesSpanLines = true;
};

// Hands each record (start, length) to sink, at most maxRecords + 1 of them in all. With
// final false the text is a piece that more text follows: a record whose end or whose
// quoting depends on what follows is left for the next piece, whose text must begin at the
// returned position. Returns n when everything was read.
template <typename C, typename Sink>
qsizetype forEachRecord(const C* text, qsizetype n, C delimiter, RecordScan& scan, bool final,
                        Sink&& sink) {
    qsizetype i = 0;
    // The first line break at or after the last quoted field start that needed it.
    qsizetype lineEnd = -1;
    while (i < n && scan.records <= scan.maxRecords) {
        while (i < n && endsRecord(text[i]))
            ++i;
        if (i >= n)
            break;
        const qsizetype start = i;
        bool fieldStart = true;
        while (i < n) {
            const C c = text[i];
            if (fieldStart && c == kQuoteUnit<C> && scan.quotesSpanLines) {
                qsizetype loneQuote = -1;
                const qsizetype closed = quotedFieldEnd(text, n, i, delimiter, &loneQuote);
                // a quote that closes only at the end of the piece may be followed by more
                if (!final && (closed < 0 || closed == n))
                    return start;
                if (closed >= 0 && loneQuote < 0) {
                    i = closed;
                    fieldStart = false;
                    continue;
                }
                if (lineEnd < i) {
                    lineEnd = i;
                    while (lineEnd < n && !endsRecord(text[lineEnd]))
                        ++lineEnd;
                }
                // A field that goes on past its line is taken whole only when it is written
                // as spreadsheet programs write it up to there; other lines read as they did.
                if (closed >= 0 && (closed <= lineEnd || loneQuote > lineEnd)) {
                    i = closed;
                    fieldStart = false;
                    continue;
                }
                // never closed: if lines follow, they are records from here on
                if (closed < 0 && lineEnd < n)
                    scan.quotesSpanLines = false;
            }
            if (endsRecord(c))
                break;
            fieldStart = c == delimiter;
            ++i;
        }
        if (i == n && !final)
            return start;
        sink(start, i - start);
        ++scan.records;
    }
    return scan.records > scan.maxRecords ? i : n;
}

// Splits records into fields and appends them to the rows.
class RowFiller {
public:
    RowFiller(ImportRows& rows, char delimiter) : m_rows(rows), m_delimiter(delimiter) {}
    void record(const char* text, qsizetype size) {
        forEachField(text, size, m_delimiter, [this](const char* p, qsizetype n, bool quoted) {
            if (quoted)
                unquote(p, n, *this);
            else
                m_rows.appendToField(p, n);
            m_rows.endField();
        });
        m_rows.endRow();
    }
    // unquote() hands a quoted field over in runs through this
    void append(const char* p, qsizetype n) { m_rows.appendToField(p, n); }

private:
    ImportRows& m_rows;
    char m_delimiter;
};

struct QStringOut {
    QString& s;
    void append(const char16_t* p, qsizetype n) { s.append(QStringView(p, n)); }
};

}  // namespace

QStringList splitFields(QStringView line, QChar delimiter) {
    QStringList fields;
    const auto* text = reinterpret_cast<const char16_t*>(line.utf16());
    forEachField(text, line.size(), char16_t(delimiter.unicode()),
                 [&](const char16_t* p, qsizetype n, bool quoted) {
                     if (!quoted) {
                         fields.append(QStringView(p, n).toString());
                         return;
                     }
                     QString value;
                     QStringOut out{value};
                     unquote(p, n, out);
                     fields.append(value);
                 });
    return fields;
}

QList<QStringView> splitRecords(QStringView text, QChar delimiter, int maxRecords) {
    QList<QStringView> records;
    const auto* units = reinterpret_cast<const char16_t*>(text.utf16());
    RecordScan scan{maxRecords};
    forEachRecord(units, text.size(), char16_t(delimiter.unicode()), scan, true,
                  [&](qsizetype start, qsizetype n) { records.append(text.sliced(start, n)); });
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

    // Scans the next piece of the file, which begins at byte `offset`; returns the byte
    // offset where line maxLines + 1 begins, or -1 when the piece does not reach it.
    qsizetype scanPiece(QByteArrayView piece, qsizetype offset) {
        // a unit split between two pieces (UTF-16 only) is taken whole from the carry
        QByteArray joined;
        if (!m_carry.isEmpty()) {
            joined = m_carry + piece.toByteArray();
            piece = joined;
            offset -= m_carry.size();
            m_carry.clear();
        }
        const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
        qsizetype i = 0;
        const qsizetype n = piece.size();
        if (m_layout == Layout::Bytes) {
            // the rest of a line in one search for its end
            while (i < n) {
                if (p[i] == '\r' || p[i] == '\n') {
                    m_inLine = false;
                    ++i;
                    continue;
                }
                if (!m_inLine) {
                    m_inLine = true;
                    if (++m_lines > m_maxLines)
                        return offset + i;
                }
                const auto* lf = static_cast<const unsigned char*>(std::memchr(p + i, '\n', n - i));
                const qsizetype end = lf ? lf - p : n;
                const auto* cr =
                    static_cast<const unsigned char*>(std::memchr(p + i, '\r', end - i));
                i = cr ? cr - p : end;
            }
            return -1;
        }
        // two-byte units: single bytes were read above
        for (; i + 2 <= n; i += 2) {
            const unsigned code = m_layout == Layout::Utf16LE ? p[i] | (unsigned(p[i + 1]) << 8)
                                                              : (unsigned(p[i]) << 8) | p[i + 1];
            const bool lineBreak = code == 0x0D || code == 0x0A;
            if (lineBreak) {
                m_inLine = false;
            } else if (!m_inLine) {
                m_inLine = true;
                if (++m_lines > m_maxLines)
                    return offset + i;
            }
        }
        m_carry = piece.sliced(i).toByteArray();
        return -1;
    }
    [[nodiscard]] int lines() const { return std::min(m_lines, m_maxLines); }

private:
    Layout m_layout;
    int m_maxLines;
    QByteArray m_carry;
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

namespace {

// The file's text as UTF-8 without its signature, taken as it is when it already is valid
// UTF-8 (no copy, no round trip through UTF-16); decoded and converted otherwise.
struct Utf8Text {
    QByteArrayView bytes;
    QByteArray converted;
};

bool takeUtf8AsIs(QByteArrayView bytes, ReadResult& result, Utf8Text& out) {
    QByteArrayView body = bytes;
    if (bytes.size() > 2 && startsWith(bytes, {0x2B, 0x2F, 0x76}))
        return false;
    if (bytes.size() > 2 && startsWith(bytes, {0xEF, 0xBB, 0xBF}))
        body = bytes.sliced(3);
    else if (bytes.size() >= 2 && layoutOf(bytes) != Layout::Bytes)
        return false;
    else if (carriesJisShifts(bytes))
        return false;
    // A second signature is dropped by the decoder: leave such files to it.
    if (startsWith(body, {0xEF, 0xBB, 0xBF}) || !body.isValidUtf8())
        return false;
    result.encoding = QStringLiteral("UTF-8");
    out.bytes = body;
    return true;
}

}  // namespace

ReadResult readDelimitedBytes(QByteArrayView bytes, Delimiter delimiter, ImportTable& table,
                              SteppedProgress& progress, LegacyCodePage legacy, int maxRows,
                              TextEncoding encoding) {
    ReadResult result;
    table.clear();
    Utf8Text text;
    if (encoding == TextEncoding::Detect && takeUtf8AsIs(bytes, result, text)) {
        if (text.bytes.contains('\0')) {
            result.status = ReadStatus::NulCharacters;
            return result;
        }
    } else {
        DecodedText decoded = decodeImportTextAs(bytes, encoding, legacy);
        result.encoding = decoded.encoding;
        result.legacyFallback = decoded.legacyFallback;
        result.lossy = decoded.lossy;
        if (decoded.hadNul) {
            result.status = ReadStatus::NulCharacters;
            return result;
        }
        text.converted = decoded.text.toUtf8();
        text.bytes = text.converted;
    }

    // Records are the non-empty runs between CR and LF characters, except that a quoted
    // field may hold line breaks.
    const char d = char(delimiterChar(delimiter).unicode());
    const char* data = text.bytes.data();
    std::vector<std::pair<qsizetype, qsizetype>> records;
    RecordScan scan{maxRows};
    forEachRecord(data, text.bytes.size(), d, scan, true,
                  [&](qsizetype start, qsizetype n) { records.emplace_back(start, n); });
    if (records.size() > size_t(maxRows)) {
        records.resize(size_t(maxRows));
        result.stoppedAtLimit = true;
    }

    const int count = int(records.size());
    progress.setRange(0, count);
    progress.setPosition(0);
    progress.show();
    RowFiller fill(table.rows, d);
    for (int i = 0; i < count; ++i) {
        fill.record(data + records[size_t(i)].first, records[size_t(i)].second);
        progress.advanceTo(i + 1);
    }
    result.rowCount = table.rowCount();
    return result;
}

namespace {

// What a first pass over a file finds, without keeping its bytes.
struct FileSurvey {
    qsizetype end = 0;  // where the line past the limit begins, or the file's size
    bool stoppedAtLimit = false;
    int lines = 0;  // non-empty lines before end
    // The text can be read straight from the file as UTF-8, piece by piece.
    bool utf8AsIs = false;
    qsizetype bodyStart = 0;  // after the signature
};

// No byte of 0x80 or above, eight bytes at a time.
bool isAscii(QByteArrayView span) {
    qsizetype i = 0;
    for (; i + 8 <= span.size(); i += 8) {
        quint64 word;
        std::memcpy(&word, span.data() + i, 8);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    for (; i < span.size(); ++i) {
        if (uchar(span[i]) >= 0x80)
            return false;
    }
    return true;
}

// Checks the bytes between line breaks as they come: whether they are valid UTF-8 without
// NUL characters and not 7-bit JIS text. Line breaks never occur inside a character, so each
// checked span holds whole characters.
class Utf8Check {
public:
    void feed(QByteArrayView bytes, bool last) {
        if (!m_ok)
            return;
        if (m_head.size() < 3) {
            m_head += bytes.first(std::min<qsizetype>(3 - m_head.size(), bytes.size()));
            // a second signature is dropped by the decoder: such files are left to it
            if (m_head.size() == 3 && startsWith(m_head, {0xEF, 0xBB, 0xBF}))
                m_ok = false;
        }
        m_pending.append(bytes);
        qsizetype cut = m_pending.size();
        if (!last) {
            while (cut > 0 && m_pending[cut - 1] != '\n' && m_pending[cut - 1] != '\r')
                --cut;
        }
        check(QByteArrayView(m_pending).first(cut));
        m_pending.remove(0, cut);
    }
    [[nodiscard]] bool ok() const { return m_ok && !(m_ascii && m_jisShift); }

private:
    void check(QByteArrayView span) {
        if (span.isEmpty() || !m_ok)
            return;
        if (!span.isValidUtf8() || span.contains('\0')) {
            m_ok = false;
            return;
        }
        // only 7-bit text with an escape is JIS, and most files hold no escape at all
        if (m_ascii)
            m_ascii = isAscii(span);
        m_jisShift = m_jisShift || (span.contains('\x1b') &&
                                    (span.contains("\x1b$B") || span.contains("\x1b$@")));
    }

    QByteArray m_head;
    QByteArray m_pending;
    bool m_ok = true;
    bool m_ascii = true;
    bool m_jisShift = false;
};

void tellReadFailure(const QFile& file) {
    std::printf("Couldn't open source file: %s",
                file.errorString().toLocal8Bit().left(1024).constData());
    std::fflush(stdout);
}

// The first pass: lines up to the limit and whether the text can be read as it is.
bool surveyFile(QFile& file, int maxRows, bool detect, FileSurvey& survey) {
    QByteArray chunk;
    std::unique_ptr<LineCounter> counter;
    Utf8Check check;
    bool mayStream = detect;
    qsizetype offset = 0;
    while (true) {
        chunk.resize(kReadPieceBytes);
        const qint64 got = file.read(chunk.data(), kReadPieceBytes);
        if (got < 0)
            return false;
        chunk.resize(got);
        if (!counter) {
            // a file reads whole up to the chunk size, so the first chunk holds its signature
            const QByteArrayView head = QByteArrayView(chunk).first(std::min<qsizetype>(3, got));
            counter = std::make_unique<LineCounter>(layoutOf(head), maxRows);
            if ((head.size() > 2 && startsWith(head, {0x2B, 0x2F, 0x76})) ||
                (head.size() >= 2 && layoutOf(head) != Layout::Bytes))
                mayStream = false;
            else if (head.size() > 2 && startsWith(head, {0xEF, 0xBB, 0xBF}))
                survey.bodyStart = 3;
        }
        QByteArrayView piece = chunk;
        const qsizetype cut = counter->scanPiece(piece, offset);
        if (cut >= 0)
            piece = piece.first(std::max<qsizetype>(0, cut - offset));
        if (mayStream) {
            const qsizetype skip = std::max<qsizetype>(0, survey.bodyStart - offset);
            check.feed(piece.sliced(std::min(skip, piece.size())), cut >= 0 || got == 0);
        }
        offset += piece.size();
        if (cut >= 0) {
            survey.stoppedAtLimit = true;
            break;
        }
        if (got == 0)
            break;
    }
    survey.end = offset;
    survey.lines = counter->lines();
    survey.utf8AsIs = mayStream && check.ok();
    return true;
}

}  // namespace

ReadResult readDelimitedFile(const QString& path, Delimiter delimiter, ImportTable& table,
                             SteppedProgress& progress, LegacyCodePage legacy, int maxRows,
                             TextEncoding encoding) {
    table.clear();
    ReadResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        tellReadFailure(file);
        result.status = ReadStatus::CannotOpen;
        result.detail = file.errorString();
        return result;
    }
    // A first pass counts the lines and finds where the line past the limit begins, so that
    // an enormous file costs no more memory than the rows an import can use.
    FileSurvey survey;
    if (!surveyFile(file, maxRows, encoding == TextEncoding::Detect, survey) || !file.seek(0)) {
        tellReadFailure(file);
        result.status = ReadStatus::CannotOpen;
        result.detail = file.errorString();
        return result;
    }

    if (!survey.utf8AsIs) {
        // Other encodings are decoded as a whole.
        if (survey.end > kMaxTextBytes) {
            result.status = ReadStatus::TooLarge;
            return result;
        }
        const QByteArray buffer = file.read(survey.end);
        if (buffer.size() != survey.end) {
            tellReadFailure(file);
            result.status = ReadStatus::CannotOpen;
            result.detail = file.errorString();
            return result;
        }
        file.close();
        result = readDelimitedBytes(buffer, delimiter, table, progress, legacy, maxRows, encoding);
        result.stoppedAtLimit = result.stoppedAtLimit || survey.stoppedAtLimit;
        return result;
    }

    // the table's offsets are 32 bits within each block of rows
    if (survey.end >= (qint64(1) << 32)) {
        result.status = ReadStatus::TooLarge;
        return result;
    }
    // UTF-8 goes from the file into the table piece by piece: only the rows are held.
    result.encoding = QStringLiteral("UTF-8");
    const char d = char(delimiterChar(delimiter).unicode());
    const int count = std::min(survey.lines, maxRows);
    progress.setRange(0, count);
    progress.setPosition(0);
    progress.show();
    RowFiller fill(table.rows, d);
    RecordScan scan{maxRows};
    QByteArray pending;
    qsizetype left = survey.end;
    (void)file.skip(survey.bodyStart);
    left -= survey.bodyStart;
    bool final = false;
    while (!final && scan.records <= maxRows) {
        const qsizetype want = std::min<qsizetype>(kReadPieceBytes, left);
        const qsizetype old = pending.size();
        pending.resize(old + want);
        const qint64 got = want > 0 ? file.read(pending.data() + old, want) : 0;
        if (got < 0 || got != want) {
            tellReadFailure(file);
            table.clear();
            result.status = ReadStatus::CannotOpen;
            result.detail = file.errorString();
            return result;
        }
        left -= got;
        final = left == 0;
        const qsizetype used = forEachRecord(pending.constData(), pending.size(), d, scan, final,
                                             [&](qsizetype start, qsizetype n) {
                                                 fill.record(pending.constData() + start, n);
                                                 progress.advanceTo(int(table.rows.size()));
                                             });
        pending.remove(0, used);
    }
    if (table.rows.size() > maxRows) {
        table.rows.resize(maxRows);
        result.stoppedAtLimit = true;
    }
    result.stoppedAtLimit = result.stoppedAtLimit || survey.stoppedAtLimit;
    result.rowCount = table.rowCount();
    return result;
}

}  // namespace pw::exchange
