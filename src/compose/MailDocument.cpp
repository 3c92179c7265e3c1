#include "compose/MailDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace pw {

void clearDocument(MailDocument& document, const QString& defaultRecipientText) {
    document.subject.clear();
    document.recipientText = defaultRecipientText;
    document.textBody.clear();
    document.attachments.clear();
    document.pictureList.clear();
    document.htmlTemplateName.clear();
    document.projectFilePath.clear();
}

QStringList filesInFolder(const QString& folder) {
    if (folder.isEmpty()) {
        return {};
    }
    const QDir dir(folder);
    return dir.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot,
                         QDir::Name);
}

bool emptyFolderFiles(const QString& folder) {
    if (folder.isEmpty()) {
        return true;
    }
    const QDir dir(folder);
    bool all = true;
    // links are removed too (the link, never what it points at)
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (!QFile::remove(entry.absoluteFilePath())) {
            all = false;
        }
    }
    return all;
}

}  // namespace pw
