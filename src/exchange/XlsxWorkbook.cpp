// The zip workbook: the package relationships lead to the workbook part, which names the
// sheets and the active tab; shared strings and cell styles are read once, a sheet is read
// as a stream and stops once the rows an import can use are in.

#include <zip.h>

#include <QHash>
#include <QIODevice>
#include <QXmlStreamReader>
#include <climits>
#include <cmath>
#include <map>

#include "exchange/Workbook.h"

namespace pw::exchange {
namespace {

// One part of the zip, decompressed as it is read, never beyond a byte budget.
class ZipPartDevice : public QIODevice {
public:
    ZipPartDevice(zip_t* archive, zip_int64_t index, qint64 budget)
        : m_file(zip_fopen_index(archive, zip_uint64_t(index), 0)), m_budget(budget) {
        if (m_file)
            open(QIODevice::ReadOnly);
    }
    ~ZipPartDevice() override {
        if (m_file)
            zip_fclose(m_file);
    }
    [[nodiscard]] bool ok() const { return m_file != nullptr; }
    [[nodiscard]] bool overBudget() const { return m_overBudget; }
    [[nodiscard]] bool failed() const { return m_failed; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (!m_file || m_failed)
            return -1;
        if (m_read >= m_budget) {
            m_overBudget = true;
            return -1;
        }
        const qint64 want = std::min(maxSize, m_budget - m_read);
        const zip_int64_t got = zip_fread(m_file, data, zip_uint64_t(want));
        if (got < 0) {
            m_failed = true;
            return -1;
        }
        m_read += got;
        return got;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    zip_file_t* m_file;
    qint64 m_budget;
    qint64 m_read = 0;
    bool m_overBudget = false;
    bool m_failed = false;
};

// The largest sheet a workbook can hold; numbers past it are damage, and bounding them
// keeps the counters of rows and cells without a number from running over.
constexpr int kSheetRows = 1048576;
constexpr int kSheetColumns = 16384;

// "C5" -> column 2, row 4 (0-based); false for anything else.
bool parseCellRef(QStringView ref, int& row, int& column) {
    qsizetype i = 0;
    int col = 0;
    while (i < ref.size() && ref[i].isLetter()) {
        const char16_t c = ref[i].toUpper().unicode();
        if (c < u'A' || c > u'Z' || i >= 3)
            return false;
        col = col * 26 + (c - u'A' + 1);
        ++i;
    }
    if (i == 0 || i == ref.size())
        return false;
    bool ok = false;
    const qlonglong r = ref.sliced(i).toLongLong(&ok);
    if (!ok || r < 1 || r > kSheetRows || col > kSheetColumns)
        return false;
    row = int(r - 1);
    column = col - 1;
    return true;
}

// Resolves a relationship target against the folder of the part that names it.
QString resolveTarget(const QString& basePart, const QString& target) {
    if (target.startsWith(u'/'))
        return target.mid(1);
    QString folder = basePart.left(basePart.lastIndexOf(u'/') + 1);
    QStringList parts = (folder + target).split(u'/', Qt::SkipEmptyParts);
    QStringList out;
    for (const QString& p : parts) {
        if (p == u"..") {
            if (!out.isEmpty())
                out.removeLast();
        } else if (p != u".") {
            out.append(p);
        }
    }
    return out.join(u'/');
}

struct SheetEntry {
    QString name;
    QString part;
    bool isWorksheet = true;
};

class XlsxWorkbook final : public Workbook {
public:
    explicit XlsxWorkbook(zip_t* archive) : m_zip(archive) {}
    ~XlsxWorkbook() override { zip_discard(m_zip); }

    bool load(ReadResult& status);

    QStringList sheetNames() const override {
        QStringList names;
        for (const SheetEntry& s : m_sheets)
            names.append(s.name);
        return names;
    }
    int activeSheet() const override { return m_active; }
    bool readUsedRange(int sheet, int maxRows, UsedRange& out, ReadResult& status) override;

private:
    // Streams one part through the XML reader; false (with status set) when it is missing
    // (and required), too large or malformed.
    template <typename Fn>
    bool readPart(const QString& name, bool required, ReadResult& status, Fn&& body);

    bool loadSharedStrings(const QString& part, ReadResult& status);
    bool loadStyles(const QString& part, ReadResult& status);

    zip_t* m_zip;
    std::vector<SheetEntry> m_sheets;
    int m_active = 0;
    QStringList m_shared;
    std::vector<bool> m_dateStyle;  // per cell format index
};

template <typename Fn>
bool XlsxWorkbook::readPart(const QString& name, bool required, ReadResult& status, Fn&& body) {
    const zip_int64_t index = zip_name_locate(m_zip, name.toUtf8().constData(), 0);
    if (index < 0) {
        if (!required)
            return true;
        status.status = ReadStatus::Damaged;
        status.detail = QStringLiteral("missing part %1").arg(name);
        return false;
    }
    ZipPartDevice device(m_zip, index, kMaxWorkbookPartBytes);
    if (!device.ok()) {
        status.status = ReadStatus::Damaged;
        status.detail = QString::fromUtf8(zip_strerror(m_zip));
        return false;
    }
    QXmlStreamReader xml(&device);
    const bool finishedEarly = !body(xml);
    if (device.overBudget()) {
        status.status = ReadStatus::TooLarge;
        return false;
    }
    if (device.failed()) {
        status.status = ReadStatus::Damaged;
        status.detail = QStringLiteral("cannot decompress %1").arg(name);
        return false;
    }
    if (!finishedEarly && xml.hasError()) {
        status.status = ReadStatus::Damaged;
        status.detail = QStringLiteral("%1: %2").arg(name, xml.errorString());
        return false;
    }
    return true;
}

// Text of an <si> or <is> element: its own <t> and the <t> of its runs; the phonetic
// guides (<rPh>) of Japanese text are not part of the value.
QString readRichText(QXmlStreamReader& xml) {
    QString text;
    while (xml.readNextStartElement()) {
        const QStringView n = xml.name();
        if (n == u"t") {
            text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (n == u"r") {
            while (xml.readNextStartElement()) {
                if (xml.name() == u"t") {
                    text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
                } else {
                    xml.skipCurrentElement();
                }
            }
        } else {
            xml.skipCurrentElement();
        }
    }
    return text;
}

bool XlsxWorkbook::loadSharedStrings(const QString& part, ReadResult& status) {
    qint64 chars = 0;
    bool tooMany = false;
    const bool ok = readPart(part, false, status, [&](QXmlStreamReader& xml) {
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == u"si") {
                QString s = readRichText(xml);
                chars += s.size();
                if (chars > kMaxWorkbookPartBytes / 2) {
                    tooMany = true;
                    return false;
                }
                m_shared.append(std::move(s));
            }
        }
        return true;
    });
    if (tooMany) {
        status.status = ReadStatus::TooLarge;
        return false;
    }
    return ok;
}

bool XlsxWorkbook::loadStyles(const QString& part, ReadResult& status) {
    QHash<int, QString> customFormats;
    std::vector<int> xfFormats;
    const bool ok = readPart(part, false, status, [&](QXmlStreamReader& xml) {
        bool inCellXfs = false;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement()) {
                const QStringView n = xml.name();
                if (n == u"numFmt") {
                    const auto a = xml.attributes();
                    customFormats.insert(a.value(QLatin1String("numFmtId")).toInt(),
                                         a.value(QLatin1String("formatCode")).toString());
                } else if (n == u"cellXfs") {
                    inCellXfs = true;
                } else if (n == u"xf" && inCellXfs) {
                    xfFormats.push_back(xml.attributes().value(QLatin1String("numFmtId")).toInt());
                    if (xfFormats.size() > 1000000)
                        return false;
                }
            } else if (xml.isEndElement() && xml.name() == u"cellXfs") {
                inCellXfs = false;
            }
        }
        return true;
    });
    m_dateStyle.clear();
    for (int id : xfFormats)
        m_dateStyle.push_back(isDateFormat(id, customFormats.value(id)));
    return ok;
}

bool XlsxWorkbook::load(ReadResult& status) {
    // The package relationships name the workbook part.
    QString workbookPart;
    if (!readPart(QStringLiteral("_rels/.rels"), false, status, [&](QXmlStreamReader& xml) {
            while (!xml.atEnd()) {
                xml.readNext();
                if (xml.isStartElement() && xml.name() == u"Relationship") {
                    const auto a = xml.attributes();
                    if (a.value(QLatin1String("Type")).endsWith(u"/officeDocument")) {
                        workbookPart =
                            resolveTarget(QString(), a.value(QLatin1String("Target")).toString());
                    }
                }
            }
            return true;
        })) {
        return false;
    }
    if (workbookPart.isEmpty())
        workbookPart = QStringLiteral("xl/workbook.xml");

    struct RawSheet {
        QString name, relId;
    };
    std::vector<RawSheet> raw;
    int activeTab = 0;
    if (!readPart(workbookPart, true, status, [&](QXmlStreamReader& xml) {
            while (!xml.atEnd()) {
                xml.readNext();
                if (!xml.isStartElement())
                    continue;
                const auto a = xml.attributes();
                if (xml.name() == u"sheet") {
                    QString rel;
                    for (const QXmlStreamAttribute& at : a) {
                        if (at.name() == u"id")
                            rel = at.value().toString();
                    }
                    raw.push_back({a.value(QLatin1String("name")).toString(), rel});
                } else if (xml.name() == u"workbookView" &&
                           a.hasAttribute(QLatin1String("activeTab"))) {
                    activeTab = a.value(QLatin1String("activeTab")).toInt();
                }
            }
            return true;
        })) {
        if (status.status == ReadStatus::Damaged && status.detail.startsWith(u"missing part"))
            status.status = ReadStatus::NotAWorkbook;
        return false;
    }

    const qsizetype slash = workbookPart.lastIndexOf(u'/');
    const QString relsPart = workbookPart.left(slash + 1) + QStringLiteral("_rels/") +
                             workbookPart.mid(slash + 1) + QStringLiteral(".rels");
    QHash<QString, std::pair<QString, QString>> rels;  // id -> (type, part)
    QString sharedPart, stylesPart;
    if (!readPart(relsPart, true, status, [&](QXmlStreamReader& xml) {
            while (!xml.atEnd()) {
                xml.readNext();
                if (xml.isStartElement() && xml.name() == u"Relationship") {
                    const auto a = xml.attributes();
                    const QString type = a.value(QLatin1String("Type")).toString();
                    const QString part =
                        resolveTarget(workbookPart, a.value(QLatin1String("Target")).toString());
                    rels.insert(a.value(QLatin1String("Id")).toString(), {type, part});
                    if (type.endsWith(u"/sharedStrings"))
                        sharedPart = part;
                    if (type.endsWith(u"/styles"))
                        stylesPart = part;
                }
            }
            return true;
        })) {
        return false;
    }

    // The active tab counts chart sheets too; the sheet list the import offers does not.
    int activeWorksheet = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto rel = rels.value(raw[i].relId);
        const bool worksheet = rel.first.endsWith(u"/worksheet");
        if (!worksheet)
            continue;
        if (int(i) == activeTab)
            activeWorksheet = int(m_sheets.size());
        m_sheets.push_back({raw[i].name, rel.second, true});
    }
    m_active = activeWorksheet;
    if (m_sheets.empty()) {
        status.status = ReadStatus::NotAWorkbook;
        return false;
    }
    if (!sharedPart.isEmpty() && !loadSharedStrings(sharedPart, status))
        return false;
    if (!stylesPart.isEmpty() && !loadStyles(stylesPart, status))
        return false;
    return true;
}

bool XlsxWorkbook::readUsedRange(int sheet, int maxRows, UsedRange& out, ReadResult& status) {
    out = UsedRange();
    if (sheet < 0 || sheet >= int(m_sheets.size())) {
        status.status = ReadStatus::Damaged;
        return false;
    }
    // Keyed by position, so that a cell written again replaces the earlier one and memory
    // follows the cells of the range, not the cell elements of the part; ordered by row, so
    // that rows falling out of the range when an earlier row turns up are dropped at once.
    std::map<quint64, CellValue> cells;
    const auto key = [](int r, int c) { return (quint64(quint32(r)) << 32) | quint32(c); };
    int minRow = -1;
    bool stopped = false, columnsCut = false;
    QString outOfSheet;

    const bool ok =
        readPart(m_sheets[size_t(sheet)].part, true, status, [&](QXmlStreamReader& xml) {
            int row = -1;
            int column = -1;
            while (!xml.atEnd()) {
                xml.readNext();
                if (!xml.isStartElement())
                    continue;
                const QStringView n = xml.name();
                if (n == u"row") {
                    const QStringView r = xml.attributes().value(QLatin1String("r"));
                    bool okRow = false;
                    const qlonglong parsed = r.toLongLong(&okRow);
                    const qlonglong next = okRow && parsed >= 1 ? parsed - 1 : qlonglong(row) + 1;
                    if (next >= kSheetRows) {
                        outOfSheet =
                            QStringLiteral("row %1 is past the last row of a sheet").arg(next + 1);
                        return false;
                    }
                    row = int(next);
                    column = -1;
                    if (minRow >= 0 && row - minRow >= maxRows) {
                        stopped = true;
                        return false;
                    }
                } else if (n == u"c") {
                    const auto a = xml.attributes();
                    int r = row < 0 ? 0 : row, c = column + 1;
                    if (a.hasAttribute(QLatin1String("r"))) {
                        int pr, pc;
                        if (parseCellRef(a.value(QLatin1String("r")), pr, pc)) {
                            r = pr;
                            c = pc;
                        }
                    }
                    if (c >= kSheetColumns) {
                        outOfSheet = QStringLiteral("column %1 is past the last column of a sheet")
                                         .arg(c + 1);
                        return false;
                    }
                    row = r;
                    column = c;
                    const QString type = a.value(QLatin1String("t")).toString();
                    const int style = a.value(QLatin1String("s")).toInt();
                    CellValue value;
                    QString v;
                    bool hasV = false;
                    QString inlineText;
                    bool hasInline = false;
                    while (xml.readNextStartElement()) {
                        if (xml.name() == u"v") {
                            v = xml.readElementText();
                            hasV = true;
                        } else if (xml.name() == u"is") {
                            inlineText = readRichText(xml);
                            hasInline = true;
                        } else {
                            xml.skipCurrentElement();
                        }
                    }
                    if (type == u"inlineStr") {
                        if (hasInline) {
                            value.kind = CellValue::Kind::Text;
                            value.text = inlineText;
                        }
                    } else if (!hasV) {
                        // formatted but empty
                    } else if (type == u"s") {
                        bool okIndex = false;
                        const int idx = v.toInt(&okIndex);
                        value.kind = CellValue::Kind::Text;
                        if (okIndex && idx >= 0 && idx < m_shared.size())
                            value.text = m_shared[idx];
                    } else if (type == u"str") {
                        value.kind = CellValue::Kind::Text;
                        value.text = v;
                    } else if (type == u"b") {
                        value.kind = CellValue::Kind::Text;
                        value.text =
                            v.trimmed() == u"1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
                    } else if (type == u"d") {
                        value.number = serialOfIsoDate(v.trimmed());
                        value.kind = std::isnan(value.number) ? CellValue::Kind::Other
                                                              : CellValue::Kind::Date;
                    } else if (type == u"e") {
                        value.kind = CellValue::Kind::Other;
                    } else {
                        bool okNumber = false;
                        const double d = v.toDouble(&okNumber);
                        if (!okNumber) {
                            value.kind = CellValue::Kind::Other;
                        } else if (style >= 0 && size_t(style) < m_dateStyle.size() &&
                                   m_dateStyle[size_t(style)]) {
                            value.kind = CellValue::Kind::Date;
                            value.number = d;
                        } else {
                            value.kind = CellValue::Kind::Number;
                            value.number = d;
                        }
                    }
                    if (minRow >= 0 && r - minRow >= maxRows) {
                        stopped = true;
                        return false;
                    }
                    if (c >= kMaxWorkbookColumns) {
                        columnsCut = true;
                        continue;
                    }
                    if (minRow < 0 || r < minRow) {
                        minRow = r;
                        if (r <= INT_MAX - maxRows)
                            cells.erase(cells.lower_bound(key(r + maxRows, 0)), cells.end());
                    }
                    cells[key(r, c)] = std::move(value);
                }
            }
            return true;
        });
    if (!outOfSheet.isEmpty()) {
        status.status = ReadStatus::Damaged;
        status.detail = outOfSheet;
        return false;
    }
    if (!ok)
        return false;
    out.stoppedAtLimit = stopped;
    out.columnsCut = columnsCut;
    if (cells.empty())
        return true;
    // The range is that of the cells kept; the last key holds the last row.
    const auto rowOf = [](quint64 at) { return int(at >> 32); };
    const auto columnOf = [](quint64 at) { return int(at & 0xffffffffu); };
    int minCol = INT_MAX, maxCol = -1;
    for (const auto& entry : cells) {
        minCol = std::min(minCol, columnOf(entry.first));
        maxCol = std::max(maxCol, columnOf(entry.first));
    }
    out.firstRow = minRow;
    out.firstColumn = minCol;
    out.rows = std::min(rowOf(cells.rbegin()->first) - minRow + 1, maxRows);
    out.columns = maxCol - minCol + 1;
    out.cells.assign(size_t(out.rows) * size_t(out.columns), CellValue());
    for (auto& [at, value] : cells) {
        const int r = rowOf(at) - minRow;
        if (r < 0 || r >= out.rows)
            continue;
        out.cells[size_t(r) * size_t(out.columns) + size_t(columnOf(at) - minCol)] =
            std::move(value);
    }
    return true;
}

}  // namespace

std::unique_ptr<Workbook> openXlsxWorkbook(const QString& path, ReadResult& status) {
    int error = 0;
    zip_t* archive = zip_open(path.toLocal8Bit().constData(), ZIP_RDONLY, &error);
    if (!archive) {
        status.status = error == ZIP_ER_OPEN || error == ZIP_ER_READ ? ReadStatus::CannotOpen
                                                                     : ReadStatus::NotAWorkbook;
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        status.detail = QString::fromUtf8(zip_error_strerror(&ze));
        zip_error_fini(&ze);
        return nullptr;
    }
    auto book = std::make_unique<XlsxWorkbook>(archive);
    if (!book->load(status))
        return nullptr;
    return book;
}

}  // namespace pw::exchange
