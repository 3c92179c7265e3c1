#include "exchange/Export.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "db/TDbData.h"
#include "resources/Strings.h"

namespace pw::exchange {

QString lowerExtension(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

QString replaceExtension(const QString& path, const QString& dottedExtension) {
    // Only the file name's dot counts: a dot in a folder name is not an extension.
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot > slash)
        return path.left(dot) + dottedExtension;
    return path + dottedExtension;
}

DatabaseExportTarget databaseExportTarget(const QString& chosenPath) {
    if (lowerExtension(chosenPath) == u"txt")
        return {chosenPath, '\t'};
    return {replaceExtension(chosenPath, QStringLiteral(".csv")), ','};
}

QByteArray exportLine(const ExportValues& values, char delimiter) {
    QByteArray line;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            line += delimiter;
        line += '"';
        if (values[i])
            line += *values[i];
        line += '"';
    }
    line += '\n';
    return line;
}

QByteArray captionLine(const QStringList& captions, char delimiter) {
    ExportValues values;
    for (int i = 0; i < 20; ++i)
        values[size_t(i)] = i < captions.size() ? captions[i].toUtf8() : QByteArray();
    return exportLine(values, delimiter);
}

ExportOutcome exportDatabase(const DatabaseExportTarget& target, const QStringList& captions,
                             bool withCaptions, db::TDbData* store, QString* error) {
    QSaveFile file(target.path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return ExportOutcome::CannotCreate;
    }
    if (withCaptions)
        file.write(captionLine(captions, target.delimiter));
    if (store && store->IsOpen()) {
        try {
            store->Records().ForEachRecord(
                db::RecordView::MainTransaction, db::RecordOrder::Stored, db::kAllFields,
                [&](const db::StoredRecord& record) {
                    file.write(exportLine(record.fields, target.delimiter));
                    return true;
                });
        } catch (const db::StoreError& e) {
            file.cancelWriting();
            if (error)
                *error = QString::fromLocal8Bit(e.what());
            return ExportOutcome::DatabaseError;
        }
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return ExportOutcome::CannotCreate;
    }
    return ExportOutcome::Written;
}

ExportOutcome exportDatabaseCommand(const QString& chosenPath, const QStringList& captions,
                                    bool withCaptions, db::TDbData* store, IUserInteraction& ui) {
    QString error;
    const ExportOutcome outcome =
        exportDatabase(databaseExportTarget(chosenPath), captions, withCaptions, store, &error);
    if (outcome != ExportOutcome::Written) {
        (void)ui.message(str(ids::kExportDatabaseTitle), str(ids::kExportFileFailed).arg(error),
                         MessageKind::Information);
    }
    return outcome;
}

std::optional<QString> exportMailText(const QString& chosenPath, const QString& plainText,
                                      IUserInteraction& ui) {
    const QString path = replaceExtension(chosenPath, QStringLiteral(".txt"));
    QString text = plainText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar(0x2029), u'\n');
    text.replace(u'\r', u'\n');
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        (void)ui.message(str(ids::kExportMailTextTitle),
                         str(ids::kExportFileFailed).arg(file.errorString()),
                         MessageKind::Information);
        return std::nullopt;
    }
    return path;
}

bool exportHtmlMail(const QString& chosenFolder, const QString& templateName,
                    const QString& previewFolder, IUserInteraction& ui) {
    const QString caption = str(ids::kExportHtmlMailCaption);
    const bool plainName = !templateName.isEmpty() && !templateName.contains(u'/') &&
                           !templateName.contains(u'\\') && templateName != u"." &&
                           templateName != u"..";
    QString base = chosenFolder;
    if (!base.endsWith(u'/'))
        base += u'/';
    const QString target = base + templateName;
    if (!plainName || !QDir().mkpath(target)) {
        (void)ui.message(caption, str(ids::kCannotCreateFolder), MessageKind::Information);
        return false;
    }
    const QFileInfoList files = QDir(previewFolder).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo& f : files) {
        const QString to = target + u'/' + f.fileName();
        // The copy replaces a file of the same name; a file that fails is skipped.
        QFile::remove(to);
        (void)QFile::copy(f.absoluteFilePath(), to);
    }
    (void)ui.message(caption, str(ids::kExportCompleted), MessageKind::Information);
    return true;
}

}  // namespace pw::exchange
