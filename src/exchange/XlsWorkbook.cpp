// The legacy workbook: cells through libfreexl; the tab that was active when the workbook
// was saved is not among what libfreexl tells, so it is read from the workbook globals
// (the WINDOW1 record) through a small reader of the compound file.

#include <freexl.h>

#include <QFile>
#include <cstring>

#include "exchange/Workbook.h"

namespace pw::exchange {
namespace {

quint16 u16(const QByteArray& b, qsizetype at) {
    if (at < 0 || at + 2 > b.size())
        return 0;
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}
quint32 u32(const QByteArray& b, qsizetype at) {
    if (at < 0 || at + 4 > b.size())
        return 0;
    return quint32(quint8(b[at])) | (quint32(quint8(b[at + 1])) << 8) |
           (quint32(quint8(b[at + 2])) << 16) | (quint32(quint8(b[at + 3])) << 24);
}

constexpr quint32 kEndOfChain = 0xFFFFFFFE;

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

    // The FAT, from the header's list of FAT sectors and the DIFAT chain.
    QList<quint32> fatSectors;
    for (int i = 0; i < 109; ++i) {
        const quint32 s = u32(file, 0x4C + 4 * i);
        if (s >= quint32(sectorCount))
            break;
        fatSectors.append(s);
    }
    quint32 difat = u32(file, 0x44);
    for (qsizetype guard = 0; difat < quint32(sectorCount) && guard < sectorCount; ++guard) {
        const qsizetype base = sectorOffset(difat);
        const qsizetype per = sectorSize / 4 - 1;
        for (qsizetype i = 0; i < per; ++i) {
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
    auto chain = [&](quint32 start, const QList<quint32>& table, auto&& read) {
        QByteArray out;
        quint32 s = start;
        for (qsizetype guard = 0; s != kEndOfChain && s < quint32(table.size()); ++guard) {
            if (guard > table.size())
                return QByteArray();
            out += read(s);
            s = table[s];
        }
        return out;
    };
    auto readSector = [&](quint32 s) { return file.mid(sectorOffset(s), sectorSize); };

    const QByteArray dir = chain(u32(file, 0x30), fat, readSector);
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
            rootStream = chain(start, fat, readSector);
            rootRead = true;
        }
        if (type != 2 || !names.contains(name))
            continue;
        if (size >= u32(file, 0x38))
            return chain(start, fat, readSector).left(size);
        // A small stream lives in the mini stream, chained by the mini FAT.
        const QByteArray miniFatBytes = chain(u32(file, 0x3C), fat, readSector);
        QList<quint32> miniFat;
        for (qsizetype i = 0; i + 4 <= miniFatBytes.size(); i += 4)
            miniFat.append(u32(miniFatBytes, i));
        const qsizetype miniSize = qsizetype(1) << miniShift;
        auto readMini = [&](quint32 s) {
            return rootStream.mid(qsizetype(s) * miniSize, miniSize);
        };
        return chain(start, miniFat, readMini).left(size);
    }
    return {};
}

struct Globals {
    int activeTab = 0;
    bool encrypted = false;
};

Globals readGlobals(const QString& path) {
    Globals g;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > 512LL * 1024 * 1024)
        return g;
    const QByteArray stream =
        compoundStream(f.readAll(), {QStringLiteral("Workbook"), QStringLiteral("Book")});
    qsizetype at = 0;
    bool first = true;
    while (at + 4 <= stream.size()) {
        const quint16 type = u16(stream, at);
        const quint16 len = u16(stream, at + 2);
        const qsizetype data = at + 4;
        if (type == 0x000A && !first)
            break;  // end of the workbook globals
        if (type == 0x002F)
            g.encrypted = true;
        if (type == 0x003D && len >= 12)
            g.activeTab = u16(stream, data + 10);
        first = false;
        at = data + len;
    }
    return g;
}

class XlsWorkbook final : public Workbook {
public:
    explicit XlsWorkbook(const void* handle) : m_handle(handle) {}
    ~XlsWorkbook() override { freexl_close(m_handle); }

    void setSheets(QStringList names, int active) {
        m_names = std::move(names);
        m_active = active >= 0 && active < m_names.size() ? active : 0;
    }
    QStringList sheetNames() const override { return m_names; }
    int activeSheet() const override { return m_active; }

    bool readUsedRange(int sheet, int maxRows, UsedRange& out, ReadResult& status) override {
        out = UsedRange();
        if (sheet < 0 || sheet >= m_names.size() ||
            freexl_select_active_worksheet(m_handle, quint16(sheet)) != FREEXL_OK) {
            status.status = ReadStatus::Damaged;
            return false;
        }
        unsigned int rows = 0;
        unsigned short columns = 0;
        if (freexl_worksheet_dimensions(m_handle, &rows, &columns) != FREEXL_OK) {
            status.status = ReadStatus::Damaged;
            return false;
        }
        // The used block: the bounds of the cells that hold something.
        int minRow = -1, maxRow = -1, minCol = INT_MAX, maxCol = -1;
        const unsigned short cols = std::min<unsigned short>(columns, kMaxWorkbookColumns);
        out.columnsCut = columns > cols;
        for (unsigned int r = 0; r < rows; ++r) {
            if (minRow >= 0 && int(r) - minRow >= maxRows) {
                out.stoppedAtLimit = true;
                break;
            }
            for (unsigned short c = 0; c < cols; ++c) {
                FreeXL_CellValue v;
                if (freexl_get_cell_value(m_handle, r, c, &v) != FREEXL_OK)
                    continue;
                if (v.type == FREEXL_CELL_NULL)
                    continue;
                if (minRow < 0)
                    minRow = int(r);
                maxRow = int(r);
                minCol = std::min(minCol, int(c));
                maxCol = std::max(maxCol, int(c));
            }
        }
        if (minRow < 0)
            return true;
        out.firstRow = minRow;
        out.firstColumn = minCol;
        out.rows = maxRow - minRow + 1;
        out.columns = maxCol - minCol + 1;
        out.cells.assign(size_t(out.rows) * size_t(out.columns), CellValue());
        for (int r = 0; r < out.rows; ++r) {
            for (int c = 0; c < out.columns; ++c) {
                FreeXL_CellValue v;
                if (freexl_get_cell_value(m_handle, unsigned(minRow + r),
                                          (unsigned short)(minCol + c), &v) != FREEXL_OK) {
                    continue;
                }
                CellValue& cell = out.cells[size_t(r) * size_t(out.columns) + size_t(c)];
                switch (v.type) {
                    case FREEXL_CELL_INT:
                        cell.kind = CellValue::Kind::Number;
                        cell.number = v.value.int_value;
                        break;
                    case FREEXL_CELL_DOUBLE:
                        cell.kind = CellValue::Kind::Number;
                        cell.number = v.value.double_value;
                        break;
                    case FREEXL_CELL_TEXT:
                    case FREEXL_CELL_SST_TEXT:
                        cell.kind = CellValue::Kind::Text;
                        cell.text = QString::fromUtf8(v.value.text_value);
                        break;
                    case FREEXL_CELL_NULL:
                        break;
                    default:
                        cell.kind = CellValue::Kind::Other;
                        break;
                }
            }
        }
        return true;
    }

private:
    const void* m_handle;
    QStringList m_names;
    int m_active = 0;
};

}  // namespace

std::unique_ptr<Workbook> openXlsWorkbook(const QString& path, ReadResult& status) {
    const Globals globals = readGlobals(path);
    if (globals.encrypted) {
        status.status = ReadStatus::Encrypted;
        return nullptr;
    }
    const void* handle = nullptr;
    const int rc = freexl_open(path.toLocal8Bit().constData(), &handle);
    if (rc != FREEXL_OK) {
        if (handle)
            freexl_close(handle);
        status.status = rc == FREEXL_FILE_NOT_FOUND ? ReadStatus::CannotOpen : ReadStatus::Damaged;
        status.detail = QStringLiteral("error %1").arg(rc);
        return nullptr;
    }
    auto book = std::make_unique<XlsWorkbook>(handle);
    unsigned int info = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
        info == FREEXL_BIFF_OBFUSCATED) {
        status.status = ReadStatus::Encrypted;
        return nullptr;
    }
    unsigned int count = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count == 0) {
        status.status = ReadStatus::Damaged;
        return nullptr;
    }
    QStringList names;
    for (unsigned int i = 0; i < count && i < 65535; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(handle, quint16(i), &name) != FREEXL_OK || !name) {
            names.append(QString());
        } else {
            names.append(QString::fromUtf8(name));
        }
    }
    book->setSheets(names, globals.activeTab);
    return book;
}

}  // namespace pw::exchange
