#include <zlib.h>

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "compose/MailFile.h"
#include "compose/MailFileFormat.h"
#include "compose/PasswordScrambling.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"

namespace pw {

using namespace mailfile;

namespace {

constexpr qint64 kCopyChunk = 1024 * 1024;

// The first text that does not fit its place decides the refusal; nothing is cut, since a cut
// password, path or multi-byte text would be silently wrong.
class FitCheck {
public:
    bool fits(const QByteArray& bytes, qint64 limit, const QString& what) {
        if (m_failed || bytes.size() <= limit) {
            return !m_failed;
        }
        m_failed = true;
        m_message = str(ids::kTextTooLongForFile)
                        .arg(what, QString::number(limit), QString::number(bytes.size()));
        return false;
    }
    [[nodiscard]] bool failed() const { return m_failed; }
    [[nodiscard]] const QString& message() const { return m_message; }

private:
    bool m_failed = false;
    QString m_message;
};

struct EncodedHeader {
    QByteArray senderAddress, senderName, subject, recipientText, body;
};

EncodedHeader encodeHeader(const MailDocument& document, const CodePage& current) {
    const CodePage system = CodePage::utf8();
    return EncodedHeader{system.encode(document.senderAddress), current.encode(document.senderName),
                         current.encode(document.subject), system.encode(document.recipientText),
                         current.encode(document.textBody)};
}

void checkHeader(const EncodedHeader& header, qint64 bodyLimit, FitCheck& check) {
    check.fits(header.senderAddress, kShortTextMax, str(ids::kFieldSenderAddress));
    check.fits(header.senderName, kShortTextMax, str(ids::kFieldSenderName));
    check.fits(header.subject, kShortTextMax, str(ids::kFieldSubject));
    check.fits(header.recipientText, kShortTextMax, str(ids::kFieldRecipientText));
    check.fits(header.body, bodyLimit, str(ids::kFieldTextBody));
}

void appendTexts(QByteArray& out, const EncodedHeader& header) {
    out.append(header.senderAddress);
    out.append(header.senderName);
    out.append(header.subject);
    out.append(header.recipientText);
    out.append(header.body);
}

void putTag(QByteArray& out, char kind) {
    out.append(kTagPrefix);
    out.append(kind);
}

WriteResult finish(WriteStatus status, const QString& message, IUserInteraction* ui) {
    if (ui && status != WriteStatus::Written) {
        (void)ui->message(str(ids::kSaveCaption), message, MessageKind::Information);
    }
    return WriteResult{status, message};
}

WriteResult writeFailure(const QString& path, const QString& reason, IUserInteraction* ui) {
    return finish(WriteStatus::Failed, str(ids::kFileCannotBeWritten).arg(path, reason), ui);
}

// Why a write of the save file fell short. A full disk gives a short write without an error,
// which the save file would commit as a cut-off file over the old one: the disk's word.
QString writeError(const QSaveFile& out) {
    return out.error() != QFileDevice::NoError ? out.errorString()
                                               : QString::fromLocal8Bit(std::strerror(ENOSPC));
}

// The record head and data of one HTML file: compressed into a buffer of exactly its own
// size; when that fails (incompressible data) it is stored as it is, the mark telling why.
QByteArray fileRecord(const QByteArray& name, const QByteArray& data) {
    const auto fullLength = static_cast<uLong>(data.size());
    QByteArray compressed(static_cast<qsizetype>(fullLength), Qt::Uninitialized);
    uLongf compressedLength = fullLength;
    const int result = compress(reinterpret_cast<Bytef*>(compressed.data()), &compressedLength,
                                reinterpret_cast<const Bytef*>(data.constData()), fullLength);
    QByteArray record;
    record.reserve(kFileHeadSize + (result == Z_OK ? qsizetype(compressedLength) : data.size()));
    record.append(kFileTag);
    putSlot(record, name);
    record.append(static_cast<char>(result & 0xFF));
    if (result == Z_OK) {
        putU32(record, compressedLength);
        putU32(record, fullLength);
        record.append(compressed.constData(), static_cast<qsizetype>(compressedLength));
    } else {
        putU32(record, fullLength);
        putU32(record, fullLength);
        record.append(data);
    }
    return record;
}

QByteArray serverListRecord(const ProjectWriteOptions& options) {
    const QByteArray data = (options.serverList + QLatin1Char('\n') + options.serverUser).toUtf8();
    QByteArray record(kServerListTag);
    putSlot(record, QByteArrayLiteral("server"));
    record.append('\1');  // stored as it is
    putU32(record, quint64(data.size()));
    putU32(record, quint64(data.size()));
    record.append(data);
    return record;
}

}  // namespace

WriteResult writeProjectFile(const QString& path, const MailDocument& document,
                             const ScheduledSending& scheduled, const ProjectWriteOptions& options,
                             IUserInteraction* ui) {
    const CodePage system = CodePage::utf8();
    FitCheck check;
    const EncodedHeader header = encodeHeader(document, options.currentCodePage);
    checkHeader(header, kLongTextMax, check);

    const ServerConfig& settings = document.projectSettings;
    const QByteArray smtp = system.encode(settings.smtpServer);
    const QByteArray pop = system.encode(settings.popServer);
    const QByteArray password = scramblePassword(system.encode(settings.password));
    const QByteArray user = system.encode(settings.userId);
    check.fits(smtp, kSlotTextMax, str(ids::kFieldSmtpServer));
    check.fits(pop, kSlotTextMax, str(ids::kFieldPopServer));
    // the scrambled form takes two bytes per byte of the password
    check.fits(system.encode(settings.password), kSlotTextMax / 2, str(ids::kFieldPassword));
    check.fits(user, kSlotTextMax, str(ids::kFieldUserId));

    QList<QByteArray> attachments;
    for (const QString& attachment : document.attachments) {
        attachments.append(system.encode(attachment));
        check.fits(attachments.last(), kSlotTextMax,
                   str(ids::kFieldAttachmentPath).arg(attachment));
    }
    const QByteArray templateName = system.encode(document.htmlTemplateName);
    check.fits(templateName, kSlotTextMax, str(ids::kFieldHtmlTemplateName));

    // a text mail stores no files, whatever the folder holds
    const QStringList htmlFiles =
        document.htmlTemplateName.isEmpty() ? QStringList() : filesInFolder(options.previewFolder);
    for (const QString& name : htmlFiles) {
        check.fits(system.encode(name), kSlotTextMax, str(ids::kFieldHtmlFileName).arg(name));
        if (!check.failed() &&
            QFileInfo(QDir(options.previewFolder).filePath(name)).size() > kLongTextMax) {
            return finish(WriteStatus::Refused, str(ids::kHtmlFileTooLarge).arg(name), ui);
        }
    }
    if (check.failed()) {
        return finish(WriteStatus::Refused, check.message(), ui);
    }

    QByteArray head;
    putTag(head, kKindProject);
    putU16(head, header.senderAddress.size());
    putU16(head, header.senderName.size());
    putU16(head, header.subject.size());
    putU16(head, header.recipientText.size());
    putU32(head, header.body.size());
    appendTexts(head, header);

    QByteArray block(kProjectSettingsSize, '\0');
    const auto placeSlot = [&block](qsizetype offset, const QByteArray& text) {
        block.replace(offset, text.size(), text);
    };
    placeSlot(kProjectSmtpSlot, smtp);
    placeSlot(kProjectPopSlot, pop);
    placeSlot(kProjectPasswordSlot, password);
    placeSlot(kProjectUserSlot, user);
    const LocalTimeFields time = toLocalTimeFields(scheduled.scheduledTime);
    const quint16 numbers[] = {quint16(scheduled.reserved ? 1 : 0),
                               quint16(scheduled.setDate ? 1 : 0),
                               time.year,
                               time.month,
                               time.day,
                               time.hour,
                               time.minute,
                               time.second,
                               quint16(scheduled.headerTime ? 1 : 0)};
    QByteArray numberBytes;
    for (const quint16 number : numbers) {
        putU16(numberBytes, number);
    }
    block.replace(kProjectReservedFlag, numberBytes.size(), numberBytes);
    head.append(block);

    head.append(kAttachmentTag);
    putU32(head, attachments.size());
    for (const QByteArray& attachment : attachments) {
        putSlot(head, attachment);
    }
    putSlot(head, templateName);
    const bool onServer = !options.serverList.isEmpty();
    putU32(head, htmlFiles.size() + (onServer ? 1 : 0));

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        return writeFailure(path, out.errorString(), ui);
    }
    QString failure;
    const auto put = [&out, &failure](QByteArrayView bytes) {
        if (failure.isEmpty() && out.write(bytes.data(), bytes.size()) != bytes.size())
            failure = writeError(out);
    };
    put(head);
    for (const QString& name : htmlFiles) {
        QFile source(QDir(options.previewFolder).filePath(name));
        if (!source.open(QIODevice::ReadOnly)) {
            out.cancelWriting();
            return finish(WriteStatus::Failed,
                          str(ids::kFileCannotBeRead).arg(source.fileName(), source.errorString()),
                          ui);
        }
        put(fileRecord(system.encode(name), source.readAll()));
    }
    if (onServer)
        put(serverListRecord(options));

    if (!options.workingCopyPath.isEmpty()) {
        QFile database(options.workingCopyPath);
        if (!database.open(QIODevice::ReadOnly)) {
            out.cancelWriting();
            return finish(
                WriteStatus::Failed,
                str(ids::kFileCannotBeRead).arg(options.workingCopyPath, database.errorString()),
                ui);
        }
        put(QByteArrayView(kDatabaseTag, 4));
        while (!database.atEnd()) {
            const QByteArray chunk = database.read(kCopyChunk);
            if (chunk.isEmpty()) {
                out.cancelWriting();
                return finish(WriteStatus::Failed,
                              str(ids::kFileCannotBeRead)
                                  .arg(options.workingCopyPath, database.errorString()),
                              ui);
            }
            put(chunk);
        }
    }
    if (!failure.isEmpty()) {
        out.cancelWriting();
        return writeFailure(path, failure, ui);
    }
    if (!out.commit()) {
        return writeFailure(path, out.errorString(), ui);
    }
    return WriteResult{WriteStatus::Written, {}};
}

WriteResult writeTemplateFile(const QString& path, const MailDocument& document,
                              const QStringList& captions, const CodePage& currentCodePage,
                              IUserInteraction* ui) {
    const CodePage system = CodePage::utf8();
    FitCheck check;
    const EncodedHeader header = encodeHeader(document, currentCodePage);
    checkHeader(header, kShortTextMax, check);
    QList<QByteArray> captionBytes;
    for (int i = 0; i < kFieldCaptionCount; ++i) {
        captionBytes.append(system.encode(captions.value(i)));
        check.fits(captionBytes.last(), kShortTextMax, str(ids::kFieldCaption).arg(i + 1));
    }
    if (check.failed()) {
        return finish(WriteStatus::Refused, check.message(), ui);
    }

    QByteArray bytes;
    putTag(bytes, kKindTemplate);
    putU16(bytes, header.senderAddress.size());
    putU16(bytes, header.senderName.size());
    putU16(bytes, header.subject.size());
    putU16(bytes, header.recipientText.size());
    putU16(bytes, header.body.size());
    appendTexts(bytes, header);
    // the server slots of a template are written empty
    bytes.append(QByteArray(kTemplateSettingsSize, '\0'));
    for (const QByteArray& caption : captionBytes) {
        putU16(bytes, caption.size());
    }
    for (const QByteArray& caption : captionBytes) {
        bytes.append(caption);
    }

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        return writeFailure(path, out.errorString(), ui);
    }
    if (out.write(bytes) != bytes.size()) {
        const QString failure = writeError(out);
        out.cancelWriting();
        return writeFailure(path, failure, ui);
    }
    if (!out.commit()) {
        return writeFailure(path, out.errorString(), ui);
    }
    return WriteResult{WriteStatus::Written, {}};
}

}  // namespace pw
