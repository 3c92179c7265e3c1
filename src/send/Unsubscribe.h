#pragma once
// Unsubscribing as the large mailbox providers want it of bulk mail: the List-Unsubscribe
// header (mailto and/or https, RFC 2369), one-click for https (RFC 8058), List-Id (RFC 2919)
// and an optional footer in the text and HTML parts. The settings are the project's, kept
// with its recipient database; their texts take the merge placeholders, URL-encoded where
// they land in a URL.

#include <QString>
#include <QStringList>

#include "resources/Strings.h"
#include "send/MailJob.h"
#include "send/UnsubscribeSettings.h"

namespace pw::db {
class TDbData;
}

namespace pw::send {

// The project's settings (none without a database or options).
[[nodiscard]] UnsubscribeSettings loadUnsubscribeSettings(db::TDbData& store);

enum class UnsubscribeCheck { Ok, BadAddress, NotHttps, TooLong, NoDatabase, Failed };
// What is wrong with settings the user typed (the address and URL may hold placeholders).
[[nodiscard]] UnsubscribeCheck checkUnsubscribeSettings(const UnsubscribeSettings& s);
// Checks, then writes them into the project's database (modified until saved).
[[nodiscard]] UnsubscribeCheck saveUnsubscribeSettings(db::TDbData& store,
                                                       const UnsubscribeSettings& s);
// The message of a refusal (empty for Ok).
[[nodiscard]] QString unsubscribeCheckMessage(UnsubscribeCheck check);

// The footer texts used when none is written; "[[Unsubscribe]]" stands for the link.
[[nodiscard]] QString defaultFooterText(Language language);
[[nodiscard]] QString defaultFooterHtml(Language language);

// The address field is known by its role, field 1, whatever its caption: the default
// caption's placeholder in either language ("[[Mail Address]]", "[[メールアドレス]]") is
// written as field 1's, unless a field is captioned so.
[[nodiscard]] QString withAddressPlaceholder(const QString& text, const FieldTexts& captions);

// The pieces of one recipient's message. `values` null for a single send, where only
// "[[" + first caption + "]]" is known: the recipient's address.
struct UnsubscribeParts {
    QStringList headers;  // complete header lines, unfolded: the message folds them
    QString footerText;   // empty: none
    QString footerHtml;
};
[[nodiscard]] UnsubscribeParts unsubscribeParts(
    const UnsubscribeSettings& s, const FieldTexts& captions, const FieldTexts* values,
    const QString& recipientAddress, const QString& senderAddress, const QString& charset);

// The footer joined to a body: after a blank line in the text, before "</body>" in HTML.
[[nodiscard]] QString withTextFooter(const QString& body, const QString& footer);
[[nodiscard]] QString withHtmlFooter(const QString& html, const QString& footer);

// A header "Name: value" on one line for the message to fold at its blanks; a token longer
// than a line is split by blanks inside its angle brackets, where RFC 2369 ignores white
// space, so that no folded line is over 998 octets.
[[nodiscard]] QString headerLine(const QString& name, const QString& value);

}  // namespace pw::send
