#pragma once
// The one mail the main window composes, with the values a project file carries besides it.

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "compose/ServerConfig.h"

namespace pw {

// Scheduled sending: kept for the whole process (New does not reset it) and carried through
// every project file that is read and written.
struct ScheduledSending {
    bool setDate = false;
    // false: the time is meant for the mail header; true: the actual transmission time
    bool headerTime = false;
    // seconds since the epoch; 0 until set
    qint64 scheduledTime = 0;
    // unused by the program, but kept from file to file
    bool reserved = false;

    friend bool operator==(const ScheduledSending&, const ScheduledSending&) = default;
};

// The texts are held as wide text; they meet their 8-bit forms (the system code page for the
// addresses, the current charset's code page for the rest) only in files and on the wire.
struct MailDocument {
    QString senderAddress;
    QString senderName;
    QString subject;
    QString recipientText;
    QString textBody;
    QStringList attachments;   // full paths, in list order
    QString htmlTemplateName;  // empty for a text mail
    QStringList pictureList;   // the files of the HTML mail in the main preview folder
    QString projectFilePath;   // empty for an untitled document
    // The project's SMTP server, POP3 server, user ID and password; the rest of a server
    // comes from the standard settings when a run starts, so a project keeps only these.
    ServerConfig projectSettings;
    bool modified = false;

    [[nodiscard]] bool isHtmlMail() const { return !htmlTemplateName.isEmpty(); }

    friend bool operator==(const MailDocument&, const MailDocument&) = default;
};

// Clear document, as far as the document itself goes: the subject, body, attachments, HTML mail
// and project file path are emptied, the recipient text becomes the given default (the
// placeholder of the default recipient field, or empty); the sender address and name stay.
void clearDocument(MailDocument& document, const QString& defaultRecipientText);

// The files directly in a folder (not subfolders, not links), sorted by name.
[[nodiscard]] QStringList filesInFolder(const QString& folder);

// Deletes every file directly in a folder; subfolders stay. Returns false if one could not go.
bool emptyFolderFiles(const QString& folder);

}  // namespace pw
