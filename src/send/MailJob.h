#pragma once
// The mail of a send run as the worker receives it: the texts, the HTML part, the
// attachments and the settings that shape every recipient's message. A plain value, filled
// by the starter once and then only read.

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

#include "send/Tracking.h"
#include "send/UnsubscribeSettings.h"
#include "smtp/Charsets.h"

namespace pw::send {

// One text per recipient field, in column order ADDRESS, NAME, FIELD3 ... FIELD20.
inline constexpr int kMergeFieldCount = 20;
using FieldTexts = std::array<QString, kMergeFieldCount>;

// "AddrSetType": how a recipient field with several addresses is split.
enum class AddrSetType : int {
    AllTo = 0,    // every address To
    RestCc = 1,   // the first To, the rest Cc
    RestBcc = 2,  // the first To, the rest Bcc
};

// The automatic line wrap of the mail document (the Auto-Wrap tool).
struct AutoWrapSetting {
    bool on = false;
    int lineLength = 0;  // bytes of the charset's code page
    [[nodiscard]] bool active() const { return on && lineLength >= 2; }
};

struct MailJob {
    // Header texts, merged per recipient in a merge send.
    QString senderAddress;
    QString senderName;
    QString subject;
    QString recipientText;  // one or more addresses separated by commas or blanks
    // The plain-text body, prepared once at the start (prepareBodyText) and merged per
    // recipient.
    QString bodyText;

    // The HTML part: the template name (empty: the mail has no HTML part) and its files,
    // "index.html" and the pictures; bare names are in mainPreviewFolder.
    QString htmlFileName;
    QStringList htmlFiles;
    QString mainPreviewFolder;  // the temporary folder's "PostwickMainPreview/", ending in '/'

    QStringList attachments;  // full paths, in list order

    int charsetRow = 0;  // "Encode": the row of the charset table
    // When not empty, the MIME charset of the mail instead of the row's (e.g. "utf-8", which
    // the table does not offer); the row still gives the code page of the automatic wrap.
    QString charsetOverride;
    // A Japanese charset's characters outside JIS X 0208 ("JapaneseExtras").
    smtp::JapaneseExtras japaneseExtras = smtp::JapaneseExtras::Utf8;
    AddrSetType addrSetType = AddrSetType::AllTo;
    AutoWrapSetting autoWrap;
    bool wrapToDisplayedLines = false;  // "length": rebuild the body from the editor's lines

    // The 20 field captions of the open database (or the defaults): "[[" + caption + "]]"
    // is the placeholder of its field.
    FieldTexts captions;

    // The host part of every Message-ID: the SMTP server of the run.
    QString messageIdDomain;

    // List-Unsubscribe, List-Id and the footer (the project's).
    UnsubscribeSettings unsubscribe;

    // The run's identifier of each message (none when empty).
    RunTracking tracking;
    // A test send merged with one recipient's values: the texts above are merged already,
    // the HTML part and the footer take them from here.
    std::optional<FieldTexts> testSample;
};

}  // namespace pw::send
