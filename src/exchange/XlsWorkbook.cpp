// The legacy workbook (BIFF5 and BIFF8 inside a compound file), read by the system itself:
// the file comes from outside, so every length and offset in it is checked against the
// bytes that are really there, and every loop is bounded by the size of the file.

#include <unicode/ucnv.h>

#include <QFile>
#include <QHash>
#include <climits>
#include <cstring>
#include <memory>

#include "exchange/Workbook.h"

namespace pw::exchange {
namespace {

quint16 u16(QByteArrayView b, qsizetype at) {
    if (at < 0 || at + 2 > b.size())
        return 0;
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}
quint32 u32(QByteArrayView b, qsizetype at) {
    if (at < 0 || at + 4 > b.size())
        return 0;
    return quint32(quint8(b[at])) | (quint32(quint8(b[at + 1])) << 8) |
           (quint32(quint8(b[at + 2])) << 16) | (quint32(quint8(b[at + 3])) << 24);
}
double f64(QByteArrayView b, qsizetype at) {
    if (at < 0 || at + 8 > b.size())
        return 0;
    double d;
    std::memcpy(&d, b.data() + at, sizeof d);
    return d;
}

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
// Larger files are no workbook a customer sends; reading them whole would cost the memory.
constexpr qint64 kMaxXlsFileBytes = 512LL * 1024 * 1024;

// Reads one stream of a compound file by name; empty when absent or malformed. Every chain
// is bounded by the number of sectors, so a crafted loop ends.
QByteArray compoundStream(const QByteArray& file, const QList<QString>& names) {
    if (file.size() < 512 || !file.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return {};
    const int sectorShift = u16(file, 0x1E);
    const int miniShift = u16(file, 0x20);
    if (sectorShift < 7 || sectorShift > 16 || miniShift < 2 || miniShift > sectorShift)
        return {};
    const qsizetype sectorSize = qsizetype(1) << sectorShift;
    const qsizetype sectorCount = (file.size() - sectorSize) / sectorSize + 1;
    auto sectorOffset = [&](quint32 s) { return qsizetype(s + 1) * sectorSize; };

    // The FAT, from the header's list of FAT sectors and the DIFAT chain; never more FAT
    // sectors than the file has sectors.
    QList<quint32> fatSectors;
    for (int i = 0; i < 109; ++i) {
        const quint32 s = u32(file, 0x4C + 4 * i);
        if (s >= quint32(sectorCount))
            break;
        fatSectors.append(s);
    }
    quint32 difat = u32(file, 0x44);
    for (qsizetype guard = 0;
         difat < quint32(sectorCount) && guard < sectorCount && fatSectors.size() < sectorCount;
         ++guard) {
        const qsizetype base = sectorOffset(difat);
        const qsizetype per = sectorSize / 4 - 1;
        for (qsizetype i = 0; i < per && fatSectors.size() < sectorCount; ++i) {
            const quint32 s = u32(file, base + 4 * i);
            if (s < quint32(sectorCount))
                fatSectors.append(s);
        }
        difat = u32(file, base + 4 * per);
    }
    QList<quint32> fat;
    for (quint32 s : fatSectors) {
        const qsizetype base = sectorOffset(s);
        for (qsizetype i = 0; i < sectorSize / 4; ++i)
            fat.append(u32(file, base + 4 * i));
    }
    // A chain visits each sector at most once in a sound file; more steps than there are
    // sectors means a loop.
    auto chain = [&](quint32 start, const QList<quint32>& table, qsizetype limit, auto&& read) {
        QByteArray out;
        quint32 s = start;
        for (qsizetype guard = 0; s != kEndOfChain && s < quint32(table.size()); ++guard) {
            if (guard > limit)
                return QByteArray();
            out += read(s);
            s = table[s];
        }
        return out;
    };
    auto readSector = [&](quint32 s) { return file.mid(sectorOffset(s), sectorSize); };

    const QByteArray dir = chain(u32(file, 0x30), fat, sectorCount, readSector);
    QByteArray rootStream;
    bool rootRead = false;
    for (qsizetype e = 0; e + 128 <= dir.size(); e += 128) {
        const int nameBytes = std::min<int>(u16(dir, e + 0x40), 64);
        QString name;
        for (int i = 0; i + 1 < nameBytes - 1; i += 2)
            name += QChar(u16(dir, e + i));
        const int type = quint8(dir[e + 0x42]);
        const quint32 start = u32(dir, e + 0x74);
        const quint32 size = u32(dir, e + 0x78);
        if (type == 5 && !rootRead) {
            rootStream = chain(start, fat, sectorCount, readSector);
            rootRead = true;
        }
        if (type != 2 || !names.contains(name))
            continue;
        if (size >= u32(file, 0x38))
            return chain(start, fat, sectorCount, readSector).left(size);
        // A small stream lives in the mini stream, chained by the mini FAT.
        const QByteArray miniFatBytes = chain(u32(file, 0x3C), fat, sectorCount, readSector);
        QList<quint32> miniFat;
        for (qsizetype i = 0; i + 4 <= miniFatBytes.size(); i += 4)
            miniFat.append(u32(miniFatBytes, i));
        const qsizetype miniSize = qsizetype(1) << miniShift;
        auto readMini = [&](quint32 s) {
            return rootStream.mid(qsizetype(s) * miniSize, miniSize);
        };
        return chain(start, miniFat, rootStream.size() / miniSize + 1, readMini).left(size);
    }
    return {};
}

// Record types of the workbook stream.
enum : quint16 {
    kBof = 0x0809,
    kEof = 0x000A,
    kContinue = 0x003C,
    kFilePass = 0x002F,
    kCodePage = 0x0042,
    kWindow1 = 0x003D,
    kBoundSheet = 0x0085,
    kFormat = 0x041E,
    kXf = 0x00E0,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kLabel = 0x0204,
    kRString = 0x00D6,
    kNumber = 0x0203,
    kRk = 0x027E,
    kMulRk = 0x00BD,
    kBoolErr = 0x0205,
    kFormula = 0x0006,
    kString = 0x0207,
};

struct Record {
    quint16 type = 0;
    qsizetype data = 0;  // offset of the body in the stream
    qsizetype size = 0;  // body bytes that are really there
    qsizetype next = 0;  // offset of the following record
};

// The record at an offset; false past the end of the stream.
bool recordAt(QByteArrayView stream, qsizetype at, Record& r) {
    if (at < 0 || at + 4 > stream.size())
        return false;
    r.type = u16(stream, at);
    r.data = at + 4;
    r.size = std::min<qsizetype>(u16(stream, at + 2), stream.size() - r.data);
    r.next = r.data + u16(stream, at + 2);
    return true;
}

// The body of a record and the CONTINUE records after it, read as one sequence. Text that
// runs on into a CONTINUE record starts there with a fresh option byte.
class Segments {
public:
    Segments(QByteArrayView stream, const Record& first) {
        m_parts.append(stream.sliced(first.data, first.size));
        Record r;
        for (qsizetype at = first.next; recordAt(stream, at, r) && r.type == kContinue; at = r.next)
            m_parts.append(stream.sliced(r.data, r.size));
    }

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] bool atEnd() {
        while (m_pos >= m_parts[m_part].size() && m_part + 1 < m_parts.size()) {
            ++m_part;
            m_pos = 0;
        }
        return m_pos >= m_parts[m_part].size();
    }

    quint8 byte() {
        if (atEnd()) {
            m_ok = false;
            return 0;
        }
        return quint8(m_parts[m_part][m_pos++]);
    }
    quint16 word() {
        const quint8 lo = byte();
        return quint16(lo | (byte() << 8));
    }
    quint32 dword() {
        const quint16 lo = word();
        return quint32(lo) | (quint32(word()) << 16);
    }
    void skip(quint64 n) {
        while (n > 0) {
            if (atEnd()) {
                m_ok = false;
                return;
            }
            const quint64 here = quint64(m_parts[m_part].size() - m_pos);
            const quint64 step = std::min(n, here);
            m_pos += qsizetype(step);
            n -= step;
        }
    }

    // A string body: cch characters after the option byte already read.
    QString chars(quint32 cch, quint8 options) {
        QString out;
        bool wide = options & 0x01;
        for (quint32 i = 0; i < cch && m_ok; ++i) {
            if (m_pos >= m_parts[m_part].size()) {
                if (m_part + 1 >= m_parts.size()) {
                    m_ok = false;
                    break;
                }
                ++m_part;
                m_pos = 0;
                wide = byte() & 0x01;
            }
            const quint16 c = wide ? word() : byte();
            if (m_ok)
                out.append(QChar(c));
        }
        return out;
    }

    // An XLUnicodeString of BIFF8 with a 16-bit (or 8-bit) character count.
    QString unicodeString(bool shortCount) {
        const quint32 cch = shortCount ? byte() : word();
        const quint8 options = byte();
        const quint16 runs = (options & 0x08) ? word() : 0;
        const quint32 ext = (options & 0x04) ? dword() : 0;
        QString text = chars(cch, options);
        skip(quint64(runs) * 4 + ext);
        return text;
    }

private:
    QList<QByteArrayView> m_parts;
    qsizetype m_part = 0;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};

// Byte strings of BIFF5 in the workbook's code page.
class CodePageDecoder {
public:
    void setCodePage(quint16 codePage) {
        QByteArray name;
        switch (codePage) {
            case 367:
                name = "US-ASCII";
                break;
            case 10000:
            case 32768:
                name = "macintosh";
                break;
            case 1200:
            case 32769:
                name = "windows-1252";
                break;
            default:
                name = "cp" + QByteArray::number(codePage);
                break;
        }
        UErrorCode status = U_ZERO_ERROR;
        m_conv.reset(ucnv_open(name.constData(), &status));
        if (U_FAILURE(status))
            m_conv.reset();
    }

    QString decode(QByteArrayView bytes) {
        if (!m_conv)
            return QString::fromLatin1(bytes.data(), bytes.size());
        QString out(bytes.size() + 1, Qt::Uninitialized);
        UErrorCode status = U_ZERO_ERROR;
        const int32_t len =
            ucnv_toUChars(m_conv.get(), reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
                          bytes.data(), int32_t(bytes.size()), &status);
        if (U_FAILURE(status))
            return QString::fromLatin1(bytes.data(), bytes.size());
        out.truncate(len);
        return out;
    }

private:
    std::unique_ptr<UConverter, ConverterCloser> m_conv;
};

struct Sheet {
    QString name;
    qsizetype offset = 0;  // its BOF in the stream
};

// Decodes the RK form of a number: a 30-bit integer or the top of a double, maybe / 100.
double rkValue(quint32 rk) {
    double v;
    if (rk & 0x02) {
        v = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    return (rk & 0x01) ? v / 100 : v;
}

class XlsWorkbook final : public Workbook {
public:
    // Reads the workbook globals; false with the status set when they cannot be used.
    bool load(QByteArray stream, ReadResult& status) {
        m_stream = std::move(stream);
        Record r;
        if (!recordAt(m_stream, 0, r) || r.type != kBof || r.size < 4) {
            return damaged(status, QStringLiteral("no workbook stream"));
        }
        const quint16 version = u16(m_stream, r.data);
        if (version != 0x0600 && version != 0x0500)
            return damaged(status, QStringLiteral("BIFF version %1").arg(version, 4, 16));
        m_biff8 = version == 0x0600;
        m_decoder.setCodePage(1252);

        QList<int> tabOfSheet;  // every tab, worksheets or not
        int activeTab = 0;
        int tabs = 0;
        for (qsizetype at = r.next; recordAt(m_stream, at, r); at = r.next) {
            if (r.type == kEof || r.type == kBof)
                break;
            switch (r.type) {
                case kFilePass:
                    status.status = ReadStatus::Encrypted;
                    return false;
                case kCodePage:
                    if (!m_biff8)
                        m_decoder.setCodePage(u16(m_stream, r.data));
                    break;
                case kWindow1:
                    if (r.size >= 12)
                        activeTab = u16(m_stream, r.data + 10);
                    break;
                case kBoundSheet: {
                    const int tab = tabs++;
                    if (r.size < 7 || quint8(m_stream[r.data + 5]) != 0)
                        break;  // charts, macro sheets and modules hold no cells to import
                    Sheet sheet;
                    sheet.offset = u32(m_stream, r.data);
                    if (m_biff8) {
                        Segments s(m_stream, Record{r.type, r.data + 6, r.size - 6, r.next});
                        sheet.name = s.unicodeString(true);
                    } else {
                        const int cch = quint8(m_stream[r.data + 6]);
                        sheet.name = m_decoder.decode(QByteArrayView(m_stream).sliced(
                            r.data + 7, std::min<qsizetype>(cch, r.size - 7)));
                    }
                    m_sheets.append(sheet);
                    tabOfSheet.append(tab);
                    break;
                }
                case kFormat: {
                    const quint16 id = u16(m_stream, r.data);
                    m_formats.insert(id, byteOrUnicodeString(r, 2));
                    break;
                }
                case kXf:
                    m_xfFormats.append(u16(m_stream, r.data + 2));
                    break;
                case kSst:
                    readSst(r);
                    break;
                default:
                    break;
            }
        }
        if (m_sheets.isEmpty())
            return damaged(status, QStringLiteral("no worksheet"));
        m_active = std::max<qsizetype>(0, tabOfSheet.indexOf(activeTab));
        return true;
    }

    QStringList sheetNames() const override {
        QStringList names;
        for (const Sheet& s : m_sheets)
            names.append(s.name);
        return names;
    }
    int activeSheet() const override { return m_active; }

    bool readUsedRange(int sheet, int maxRows, UsedRange& out, ReadResult& status) override {
        out = UsedRange();
        if (sheet < 0 || sheet >= m_sheets.size())
            return damaged(status, QStringLiteral("no such worksheet"));
        const qsizetype start = m_sheets[sheet].offset;
        Record bof;
        if (!recordAt(m_stream, start, bof) || bof.type != kBof)
            return damaged(status, QStringLiteral("worksheet not found"));

        // The used block: the first used row, then the bounds of the rows kept after it.
        int minRow = INT_MAX;
        scanSheet(start, [&](int row, int, auto&&) { minRow = std::min(minRow, row); });
        if (minRow == INT_MAX)
            return true;
        const qint64 lastKept = qint64(minRow) + std::max(maxRows, 0) - 1;
        int maxRow = -1, minCol = INT_MAX, maxCol = -1;
        scanSheet(start, [&](int row, int col, auto&&) {
            if (row > lastKept) {
                out.stoppedAtLimit = true;
            } else if (col >= kMaxWorkbookColumns) {
                out.columnsCut = true;
            } else {
                maxRow = std::max(maxRow, row);
                minCol = std::min(minCol, col);
                maxCol = std::max(maxCol, col);
            }
        });
        if (maxRow < 0)
            return true;
        out.firstRow = minRow;
        out.firstColumn = minCol;
        out.rows = maxRow - minRow + 1;
        out.columns = maxCol - minCol + 1;
        out.cells.assign(size_t(out.rows) * size_t(out.columns), CellValue());
        scanSheet(start, [&](int row, int col, auto&& value) {
            if (row <= maxRow && col >= minCol && col <= maxCol) {
                out.cells[size_t(row - minRow) * size_t(out.columns) + size_t(col - minCol)] =
                    value();
            }
        });
        return true;
    }

private:
    static bool damaged(ReadResult& status, const QString& detail) {
        status.status = ReadStatus::Damaged;
        status.detail = detail;
        return false;
    }

    // A string of BIFF8 (16-bit count) or of BIFF5 (bytes in the code page, 8- or 16-bit
    // count) at an offset into the record's body.
    QString byteOrUnicodeString(const Record& r, qsizetype offset, bool byteCount = true) const {
        if (offset > r.size)
            return {};
        if (m_biff8) {
            Segments s(m_stream, Record{r.type, r.data + offset, r.size - offset, r.next});
            return s.unicodeString(false);
        }
        const qsizetype countBytes = byteCount ? 1 : 2;
        const qsizetype cch =
            byteCount ? quint8(m_stream.at(std::min(r.data + offset, m_stream.size() - 1)))
                      : u16(m_stream, r.data + offset);
        const qsizetype from = offset + countBytes;
        if (from > r.size)
            return {};
        return m_decoder.decode(
            QByteArrayView(m_stream).sliced(r.data + from, std::min(cch, r.size - from)));
    }

    void readSst(const Record& r) {
        Segments s(m_stream, r);
        (void)s.dword();
        (void)s.dword();
        // The counts in the header are not trusted: strings are read while bytes last.
        // Never more strings than cells an import can hold.
        const qsizetype cap = qsizetype(kMaxReaderRows) * kMaxWorkbookColumns;
        while (s.ok() && !s.atEnd() && m_sst.size() < cap) {
            QString text = s.unicodeString(false);
            if (!s.ok())
                break;
            m_sst.append(std::move(text));
        }
    }

    bool isDate(quint16 xf) const {
        if (xf >= m_xfFormats.size())
            return false;
        const quint16 id = m_xfFormats[xf];
        return isDateFormat(id, m_formats.value(id));
    }

    CellValue number(quint16 xf, double v) const {
        CellValue c;
        c.kind = isDate(xf) ? CellValue::Kind::Date : CellValue::Kind::Number;
        c.number = v;
        return c;
    }
    static CellValue text(QString t) {
        CellValue c;
        c.kind = CellValue::Kind::Text;
        c.text = std::move(t);
        return c;
    }
    static CellValue truth(bool value) {
        return text(value ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    }
    static CellValue other() {
        CellValue c;
        c.kind = CellValue::Kind::Other;
        return c;
    }

    // Calls onCell(row, column, value) for every cell that holds a value, in stream order;
    // value() decodes it only when the caller wants it.
    template <typename OnCell>
    void scanSheet(qsizetype start, OnCell&& onCell) const {
        Record r;
        recordAt(m_stream, start, r);
        for (qsizetype at = r.next; recordAt(m_stream, at, r); at = r.next) {
            if (r.type == kEof || r.type == kBof)
                break;
            if (r.size < 6)
                continue;
            const int row = u16(m_stream, r.data);
            const int col = u16(m_stream, r.data + 2);
            const quint16 xf = u16(m_stream, r.data + 4);
            switch (r.type) {
                case kLabelSst:
                    onCell(row, col, [&] {
                        const quint32 i = u32(m_stream, r.data + 6);
                        return text(i < quint32(m_sst.size()) ? m_sst[i] : QString());
                    });
                    break;
                case kLabel:
                case kRString:
                    onCell(row, col, [&] { return text(byteOrUnicodeString(r, 6, false)); });
                    break;
                case kNumber:
                    onCell(row, col, [&] { return number(xf, f64(m_stream, r.data + 6)); });
                    break;
                case kRk:
                    onCell(row, col,
                           [&] { return number(xf, rkValue(u32(m_stream, r.data + 6))); });
                    break;
                case kMulRk: {
                    // Column of the first cell, then xf and RK per cell, then the last column.
                    const qsizetype n = (r.size - 6) / 6;
                    for (qsizetype i = 0; i < n && col + i <= 0xFFFF; ++i) {
                        const qsizetype at6 = r.data + 4 + 6 * i;
                        onCell(row, int(col + i), [&] {
                            return number(u16(m_stream, at6), rkValue(u32(m_stream, at6 + 2)));
                        });
                    }
                    break;
                }
                case kBoolErr:
                    // a truth value as the sheet shows it; an error value stays empty
                    onCell(row, col, [&] {
                        return r.size >= 8 && quint8(m_stream[r.data + 7]) == 0
                                   ? truth(quint8(m_stream[r.data + 6]) != 0)
                                   : other();
                    });
                    break;
                case kFormula:
                    onCell(row, col, [&] { return formulaResult(r, xf); });
                    break;
                default:
                    break;
            }
        }
    }

    // The value a formula had when the workbook was saved.
    CellValue formulaResult(const Record& r, quint16 xf) const {
        if (r.size < 14)
            return CellValue();
        if (u16(m_stream, r.data + 12) != 0xFFFF)
            return number(xf, f64(m_stream, r.data + 6));
        switch (quint8(m_stream[r.data + 6])) {
            case 0: {  // a text, in the STRING record that follows
                Record s;
                for (qsizetype at = r.next; recordAt(m_stream, at, s); at = s.next) {
                    if (s.type == kString) {
                        return text(byteOrUnicodeString(s, 0, false));
                    }
                    if (s.type != kContinue && s.type != 0x04BC && s.type != 0x0221 &&
                        s.type != 0x0236) {
                        break;  // only shared or array formula parts come between
                    }
                }
                return text(QString());
            }
            case 1:
                return truth(quint8(m_stream[r.data + 8]) != 0);
            case 3:
                return text(QString());
            default:  // error
                return other();
        }
    }

    QByteArray m_stream;
    bool m_biff8 = true;
    mutable CodePageDecoder m_decoder;
    QList<Sheet> m_sheets;
    int m_active = 0;
    QHash<quint16, QString> m_formats;
    QList<quint16> m_xfFormats;
    QStringList m_sst;
};

}  // namespace

std::unique_ptr<Workbook> openXlsWorkbook(const QString& path, ReadResult& status) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        status.status = ReadStatus::CannotOpen;
        status.detail = f.errorString();
        return nullptr;
    }
    if (f.size() > kMaxXlsFileBytes) {
        status.status = ReadStatus::TooLarge;
        return nullptr;
    }
    QByteArray stream =
        compoundStream(f.readAll(), {QStringLiteral("Workbook"), QStringLiteral("Book")});
    auto book = std::make_unique<XlsWorkbook>();
    if (!book->load(std::move(stream), status))
        return nullptr;
    return book;
}

}  // namespace pw::exchange
