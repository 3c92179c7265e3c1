#include <zlib.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <array>

#include "compose/MailFile.h"
#include "compose/MailFileFormat.h"
#include "compose/PasswordScrambling.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"

namespace pw {

using namespace mailfile;

namespace {

constexpr qint64 kChunk = 64 * 1024;
// What the HTML section may unpack into the preview folder: one file and all of them. A
// template's page and pictures stay far below; a crafted file could otherwise promise
// gigabytes per record from a few bytes.
constexpr qint64 kMaxPreviewFileBytes = 64LL * 1024 * 1024;
constexpr qint64 kMaxPreviewTotalBytes = 256LL * 1024 * 1024;

// Reads from the file, never past its end and never trusting a length before checking that
// the bytes are there: every allocation is bounded by what the file really holds.
class Input {
public:
    explicit Input(QFile& file) : m_file(file), m_size(file.size()) {}

    [[nodiscard]] qint64 remaining() const { return m_size - m_file.pos(); }
    [[nodiscard]] qint64 pos() const { return m_file.pos(); }

    [[nodiscard]] bool read(QByteArray& out, qint64 count) {
        if (count < 0 || count > remaining()) {
            return false;
        }
        out = m_file.read(count);
        return out.size() == count;
    }

    [[nodiscard]] bool skip(qint64 count) {
        if (count < 0 || count > remaining()) {
            return false;
        }
        return m_file.seek(m_file.pos() + count);
    }

    [[nodiscard]] bool seek(qint64 position) {
        return position >= 0 && position <= m_size && m_file.seek(position);
    }

    // Up to count bytes, at most one chunk.
    [[nodiscard]] QByteArray readChunk(qint64 count) { return m_file.read(qMin(count, kChunk)); }

private:
    QFile& m_file;
    qint64 m_size;
};

struct HeaderTexts {
    QByteArray senderAddress, senderName, subject, recipientText, body;
};

bool readHeaderTexts(Input& in, const std::array<qint64, 5>& lengths, HeaderTexts& texts) {
    qint64 total = 0;
    for (const qint64 length : lengths) {
        total += length;
    }
    if (total > in.remaining()) {
        return false;
    }
    return in.read(texts.senderAddress, lengths[0]) && in.read(texts.senderName, lengths[1]) &&
           in.read(texts.subject, lengths[2]) && in.read(texts.recipientText, lengths[3]) &&
           in.read(texts.body, lengths[4]);
}

// Earlier builds wrote the texts of the ISO-2022-JP row as JIS. Read in the row's code page
// their escapes would be dropped as control characters and the kanji left as ASCII letters,
// which then went out as a plain display name ("$B3t<0...").
QString decodeText(const CodePage& current, const QByteArray& bytes) {
    const bool sevenBit =
        std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; });
    if (sevenBit && (bytes.contains("\x1b$B") || bytes.contains("\x1b$@"))) {
        if (const std::optional<CodePage> jis = CodePage::fromName("ISO-2022-JP"))
            return jis->decode(bytes);
    }
    return current.decode(bytes);
}

void applyHeaderTexts(const HeaderTexts& texts, const CodePage& current, MailDocument& document) {
    const CodePage system = CodePage::utf8();
    document.senderAddress = system.decode(texts.senderAddress);
    document.senderName = decodeText(current, texts.senderName);
    document.subject = decodeText(current, texts.subject);
    document.recipientText = system.decode(texts.recipientText);
    document.textBody = decodeText(current, texts.body);
}

QString slotString(const QByteArray& block, qsizetype offset) {
    return QString::fromUtf8(slotText(block.constData() + offset));
}

// The writer ends every slot with a zero; a full slot is damage, and its text could never be
// written back.
bool slotTerminated(const char* slot) {
    return qstrnlen(slot, kSlotSize) < kSlotSize;
}

// Whether a text read from the file goes back into a place of this size: bytes that are not
// valid in the code page are read as U+FFFD and take more room when written again.
bool fitsWhenWritten(const QString& text, const CodePage& codePage, qint64 limit) {
    return codePage.encode(text).size() <= limit;
}

bool headerFits(const MailDocument& d, const CodePage& current, bool project) {
    const CodePage system = CodePage::utf8();
    return fitsWhenWritten(d.senderAddress, system, kShortTextMax) &&
           fitsWhenWritten(d.senderName, current, kShortTextMax) &&
           fitsWhenWritten(d.subject, current, kShortTextMax) &&
           fitsWhenWritten(d.recipientText, system, kShortTextMax) &&
           fitsWhenWritten(d.textBody, current, project ? kLongTextMax : kShortTextMax);
}

bool projectSettingsFit(const QByteArray& block, const ServerConfig& settings) {
    const CodePage system = CodePage::utf8();
    for (const qsizetype slot :
         {kProjectSmtpSlot, kProjectPopSlot, kProjectPasswordSlot, kProjectUserSlot}) {
        if (!slotTerminated(block.constData() + slot)) {
            return false;
        }
    }
    // the scrambled form takes two bytes per byte of the password
    return fitsWhenWritten(settings.smtpServer, system, kSlotTextMax) &&
           fitsWhenWritten(settings.popServer, system, kSlotTextMax) &&
           fitsWhenWritten(settings.password, system, kSlotTextMax / 2) &&
           fitsWhenWritten(settings.userId, system, kSlotTextMax);
}

// A path or name slot of the project's sections, or nothing when it is damaged.
std::optional<QString> sectionSlot(const QByteArray& slot) {
    if (!slotTerminated(slot.constData())) {
        return std::nullopt;
    }
    const QString text = QString::fromUtf8(slotText(slot.constData()));
    if (!fitsWhenWritten(text, CodePage::utf8(), kSlotTextMax)) {
        return std::nullopt;
    }
    return text;
}

// Writes one HTML file of the project into the preview folder, never following a link that
// stands there under the same name.
class PreviewFileWriter {
public:
    PreviewFileWriter(const QString& folder, const QString& name)
        : m_path(QDir(folder).filePath(name)) {
        const QFileInfo existing(m_path);
        if (existing.isSymLink()) {
            QFile::remove(m_path);
        }
        m_file.setFileName(m_path);
        m_ok = m_file.open(QIODevice::WriteOnly);
    }
    ~PreviewFileWriter() {
        if (!m_committed && m_file.isOpen()) {
            m_file.cancelWriting();
        }
    }

    [[nodiscard]] bool ok() const { return m_ok; }
    bool write(const char* data, qint64 size) {
        if (m_ok && m_file.write(data, size) != size) {
            m_ok = false;
        }
        return m_ok;
    }
    bool commit() {
        if (!m_ok) {
            return false;
        }
        m_committed = true;
        return m_file.commit();
    }

private:
    QString m_path;
    QSaveFile m_file;
    bool m_ok = false;
    bool m_committed = false;
};

// Copies the stored bytes unchanged.
bool copyStored(Input& in, quint32 storedLength, PreviewFileWriter* out) {
    qint64 left = storedLength;
    while (left > 0) {
        const QByteArray chunk = in.readChunk(left);
        if (chunk.isEmpty()) {
            return false;
        }
        if (out) {
            out->write(chunk.constData(), chunk.size());
        }
        left -= chunk.size();
    }
    return true;
}

// Inflates exactly storedLength bytes into exactly fullLength bytes; anything else (damaged
// data, a stream that ends early or late, output longer or shorter than promised) fails.
bool inflateStored(Input& in, quint32 storedLength, quint32 fullLength, PreviewFileWriter* out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;
    }
    std::array<unsigned char, kChunk> buffer{};
    QByteArray chunk;
    qint64 left = storedLength;
    quint64 produced = 0;
    bool ok = false;
    for (;;) {
        if (stream.avail_in == 0 && left > 0) {
            chunk = in.readChunk(left);
            if (chunk.isEmpty()) {
                break;
            }
            left -= chunk.size();
            stream.next_in = reinterpret_cast<Bytef*>(chunk.data());
            stream.avail_in = static_cast<uInt>(chunk.size());
        }
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        const auto got = static_cast<quint64>(buffer.size() - stream.avail_out);
        produced += got;
        if (produced > fullLength) {
            break;
        }
        if (out && got > 0) {
            out->write(reinterpret_cast<const char*>(buffer.data()), static_cast<qint64>(got));
        }
        if (status == Z_STREAM_END) {
            // nothing may follow the stream inside the record
            ok = stream.avail_in == 0 && left == 0 && produced == fullLength;
            break;
        }
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && left == 0) {
            break;  // the stored data ended before the stream did
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            break;
        }
    }
    inflateEnd(&stream);
    return ok;
}

// Skipped: a record of another kind, passed over as the format allows; Dropped: a file that
// could not be written (a name that is no file name, a full disk).
enum class RecordResult { Stored, Skipped, Dropped, EndSection };

RecordResult readFileRecord(Input& in, const QString& previewFolder, qint64& budget,
                            MailFileContents& contents) {
    QByteArray head;
    if (!in.read(head, kFileHeadSize)) {
        return RecordResult::EndSection;
    }
    const quint8 mark = static_cast<quint8>(head.at(260));
    const quint32 storedLength = getU32(head.constData() + 261);
    const quint32 fullLength = getU32(head.constData() + 265);
    if (storedLength > in.remaining()) {
        return RecordResult::EndSection;
    }
    const qint64 recordEnd = in.pos() + storedLength;
    const std::optional<QString> name =
        previewFileName(QString::fromUtf8(slotText(head.constData() + 4)));
    if (head.left(4) == kServerListTag && mark != 0 && storedLength <= kServerListMax) {
        QByteArray data;
        if (!in.read(data, storedLength))
            return RecordResult::EndSection;
        const QStringList parts = QString::fromUtf8(data).split(QLatin1Char('\n'));
        contents.serverList = parts.value(0);
        contents.serverUser = parts.value(1);
        return RecordResult::Skipped;
    }
    if (head.left(4) != kFileTag) {
        return in.skip(storedLength) ? RecordResult::Skipped : RecordResult::EndSection;
    }
    const qint64 unpacked = mark != 0 ? qint64(storedLength) : qint64(fullLength);
    if (!name || previewFolder.isEmpty() || unpacked > qMin(kMaxPreviewFileBytes, budget)) {
        return in.skip(storedLength) ? RecordResult::Dropped : RecordResult::EndSection;
    }
    budget -= unpacked;
    PreviewFileWriter writer(previewFolder, *name);
    PreviewFileWriter* out = writer.ok() ? &writer : nullptr;
    const bool decoded = mark != 0 ? copyStored(in, storedLength, out)
                                   : inflateStored(in, storedLength, fullLength, out);
    if (!in.seek(recordEnd)) {
        return RecordResult::EndSection;
    }
    if (!decoded) {
        return RecordResult::EndSection;  // the writer's destructor drops the partial file
    }
    return out && writer.commit() ? RecordResult::Stored : RecordResult::Dropped;
}

DatabaseOutcome copyDatabase(Input& in, const QString& target) {
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) {
        return DatabaseOutcome::WriteFailed;
    }
    while (in.remaining() > 0) {
        const QByteArray chunk = in.readChunk(in.remaining());
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return DatabaseOutcome::WriteFailed;
        }
    }
    return out.commit() ? DatabaseOutcome::Written : DatabaseOutcome::WriteFailed;
}

// Attachments, HTML files and the database; each may be cut off in a damaged file, and what
// follows a cut is not read.
void readProjectSections(Input& in, const MailFileReadOptions& options,
                         MailFileContents& contents) {
    MailDocument& document = contents.document;
    QByteArray part;
    if (!in.read(part, kAttachmentTagSize + 4)) {
        contents.complete = false;
        return;
    }
    const auto count = static_cast<qint32>(getU32(part.constData() + kAttachmentTagSize));
    if (part.left(kAttachmentTagSize) != kAttachmentTag) {
        if (count > 0 && !in.skip(qint64(count) * kSlotSize)) {
            contents.complete = false;
            return;
        }
    } else {
        for (qint32 i = 0; i < count; ++i) {
            if (!in.read(part, kSlotSize)) {
                contents.complete = false;
                return;
            }
            const std::optional<QString> attachment = sectionSlot(part);
            if (!attachment) {
                contents.complete = false;
                return;
            }
            document.attachments.append(*attachment);
        }
    }

    if (!in.read(part, kSlotSize + 4)) {
        contents.complete = false;
        return;
    }
    const std::optional<QString> templateName = sectionSlot(part.left(kSlotSize));
    if (!templateName) {
        contents.complete = false;
        return;
    }
    document.htmlTemplateName = *templateName;
    const quint32 records = getU32(part.constData() + kSlotSize);
    qint64 budget = kMaxPreviewTotalBytes;
    for (quint32 i = 0; i < records; ++i) {
        const RecordResult result = readFileRecord(in, options.previewFolder, budget, contents);
        if (result == RecordResult::EndSection) {
            contents.complete = false;
            break;
        }
        if (result == RecordResult::Dropped) {
            contents.complete = false;
        }
    }

    if (in.remaining() < 4) {
        return;
    }
    const qint64 tagPos = in.pos();
    if (!in.read(part, 4) || part != kDatabaseTag) {
        (void)in.seek(tagPos);
        return;
    }
    const QString target = options.databaseTarget ? options.databaseTarget() : QString();
    if (target.isEmpty()) {
        contents.database = DatabaseOutcome::NotWanted;
        return;
    }
    contents.databasePath = target;
    contents.database = copyDatabase(in, target);
}

struct KindAndBase {
    MailFileKind kind;
    qint64 base;
};

std::optional<MailFileKind> kindOfTag(const QByteArray& tag) {
    switch (tag.at(3)) {
        case kKindOldTemplate:
            return MailFileKind::OldTemplate;
        case kKindProject:
            return MailFileKind::Project;
        case kKindTemplate:
            return MailFileKind::Template;
        default:
            return std::nullopt;
    }
}

// The kind from the fourth byte. A file with no known kind there may carry its tag behind a
// 128-byte prefix; that is accepted only for an exact tag, so that no other file is taken
// for one of ours.
std::optional<KindAndBase> detectKind(Input& in) {
    QByteArray tag;
    if (!in.read(tag, 4)) {
        return std::nullopt;
    }
    if (const auto kind = kindOfTag(tag)) {
        return KindAndBase{*kind, 0};
    }
    if (tag.at(3) == 'B' || tag.at(3) == 'C') {
        return std::nullopt;
    }
    if (!in.seek(kPrefixSize) || !in.read(tag, 4) || !tag.startsWith(kTagPrefix)) {
        return std::nullopt;
    }
    if (const auto kind = kindOfTag(tag)) {
        return KindAndBase{*kind, kPrefixSize};
    }
    return std::nullopt;
}

MailFileReadResult fail(const QString& path, const QString& why, IUserInteraction* ui) {
    if (ui) {
        (void)ui->message(str(ids::kLoadCaption), str(ids::kFileCannotBeOpened),
                          MessageKind::Information);
    }
    return MailFileReadResult{std::nullopt, QStringLiteral("%1: %2").arg(path, why)};
}

}  // namespace

std::optional<QString> previewFileName(const QString& storedName) {
    const qsizetype cut = qMax(storedName.lastIndexOf(u'/'), storedName.lastIndexOf(u'\\'));
    const QString name = storedName.mid(cut + 1);
    if (name.isEmpty() || name == u"." || name == u"..") {
        return std::nullopt;
    }
    return name;
}

LocalTimeFields toLocalTimeFields(qint64 secondsSinceEpoch) {
    const QDateTime local = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::LocalTime);
    if (!local.isValid() || local.date().year() < 1 || local.date().year() > 0xFFFF) {
        return LocalTimeFields{0, 0, 0, kNoLocalTime, kNoLocalTime, kNoLocalTime};
    }
    const QDate date = local.date();
    const QTime time = local.time();
    return LocalTimeFields{
        static_cast<quint16>(date.year()),   static_cast<quint16>(date.month()),
        static_cast<quint16>(date.day()),    static_cast<quint16>(time.hour()),
        static_cast<quint16>(time.minute()), static_cast<quint16>(time.second())};
}

qint64 fromLocalTimeFields(const LocalTimeFields& fields) {
    const QDate date(fields.year, fields.month, fields.day);
    const QTime time(fields.hour, fields.minute, fields.second);
    if (!date.isValid() || !time.isValid()) {
        return 0;
    }
    const QDateTime local(date, time, Qt::LocalTime);
    return local.isValid() ? local.toSecsSinceEpoch() : 0;
}

MailFileReadResult readMailFile(const QString& path, const MailFileReadOptions& options,
                                IUserInteraction* ui) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return fail(path, file.errorString(), ui);
    }
    Input in(file);
    const std::optional<KindAndBase> detected = detectKind(in);
    if (!detected || !in.seek(detected->base)) {
        return fail(path, QStringLiteral("not a project or template file"), ui);
    }

    MailFileContents contents;
    contents.kind = detected->kind;
    const bool project = contents.kind == MailFileKind::Project;

    QByteArray header;
    if (!in.read(header, project ? kProjectHeaderSize : kTemplateHeaderSize)) {
        return fail(path, QStringLiteral("header cut off"), ui);
    }
    std::array<qint64, 5> lengths{};
    for (int i = 0; i < 4; ++i) {
        lengths[i] = getU16(header.constData() + 4 + 2 * i);
    }
    lengths[4] =
        project ? qint64(getU32(header.constData() + 12)) : getU16(header.constData() + 12);
    HeaderTexts texts;
    if (!readHeaderTexts(in, lengths, texts)) {
        return fail(path, QStringLiteral("texts cut off"), ui);
    }

    QByteArray block;
    if (!in.read(block, project ? kProjectSettingsSize : kTemplateSettingsSize)) {
        return fail(path, QStringLiteral("settings cut off"), ui);
    }
    MailDocument& document = contents.document;
    applyHeaderTexts(texts, options.currentCodePage, document);
    document.projectFilePath = path;
    ServerConfig& settings = document.projectSettings;
    if (project) {
        settings.smtpServer = slotString(block, kProjectSmtpSlot);
        settings.popServer = slotString(block, kProjectPopSlot);
        settings.password = QString::fromUtf8(
            unscramblePassword(slotText(block.constData() + kProjectPasswordSlot)));
        settings.userId = slotString(block, kProjectUserSlot);
        ScheduledSending scheduled;
        scheduled.reserved = getU16(block.constData() + kProjectReservedFlag) != 0;
        scheduled.setDate = getU16(block.constData() + kProjectSetDateFlag) != 0;
        scheduled.headerTime = getU16(block.constData() + kProjectHeaderTimeFlag) != 0;
        const char* t = block.constData() + kProjectYear;
        scheduled.scheduledTime = fromLocalTimeFields(LocalTimeFields{
            getU16(t), getU16(t + 2), getU16(t + 4), getU16(t + 6), getU16(t + 8), getU16(t + 10)});
        contents.scheduled = scheduled;
        if (!projectSettingsFit(block, settings)) {
            return fail(path, QStringLiteral("settings damaged"), ui);
        }
    } else {
        settings.smtpServer = slotString(block, kTemplateSmtpSlot);
        settings.popServer = slotString(block, kTemplatePopSlot);
        settings.password = slotString(block, kTemplatePasswordSlot);
        settings.userId = slotString(block, kTemplateUserSlot);
    }

    if (!headerFits(document, options.currentCodePage, project)) {
        return fail(path, QStringLiteral("texts damaged"), ui);
    }

    if (contents.kind == MailFileKind::Template) {
        QByteArray captionLengths;
        if (!in.read(captionLengths, 2 * kFieldCaptionCount)) {
            return fail(path, QStringLiteral("captions cut off"), ui);
        }
        QStringList captions;
        for (int i = 0; i < kFieldCaptionCount; ++i) {
            QByteArray caption;
            if (!in.read(caption, getU16(captionLengths.constData() + 2 * i))) {
                return fail(path, QStringLiteral("captions cut off"), ui);
            }
            captions.append(QString::fromUtf8(caption));
        }
        contents.captions = captions;
    }

    // The fixed part is whole: from here on the HTML mail of the preview folder is replaced.
    emptyFolderFiles(options.previewFolder);
    if (project) {
        readProjectSections(in, options, contents);
    }
    document.pictureList = filesInFolder(options.previewFolder);
    return MailFileReadResult{std::move(contents), {}};
}

}  // namespace pw
