#pragma once
// The deliverability check before a run: what the large mailbox providers (Gmail, Yahoo,
// Outlook.com, Microsoft 365) refuse or junk, found before the first mail instead of from
// refusals half-way through a list. Each finding passes, warns or names a problem, in one
// sentence with what to do. The sender's domain is looked up in DNS; a lookup that fails
// says so and never passes.

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "compose/ServerConfig.h"
#include "resources/UserInteraction.h"
#include "send/UnsubscribeSettings.h"

namespace pw::smtp {
class CKTWSMTPMessage;
}

namespace pw::send {

class CDnsResolver;
class CMessageAssembly;
class CSendFlow;

enum class FindingLevel { Pass, Warning, Problem };

enum class FindingTopic {
    Sender,       // the From address against the account that signs in
    Spf,          // the From domain's SPF record
    SpfServer,    // whether it names the server's provider
    Dkim,         // the provider's DKIM key for the From domain
    Dmarc,        // the From domain's DMARC record and its policy
    SenderMx,     // whether the From domain receives mail (replies, bounces)
    Providers,    // recipients at Gmail, Yahoo, Outlook.com against 5,000 a day
    PlainText,    // a plain-text part beside the HTML
    Size,         // the message against the provider's limit (and Gmail's clipping)
    Links,        // link texts that show another domain than their target
    Pictures,     // pictures without text, mail that is mostly pictures
    Unsubscribe,  // List-Unsubscribe and one-click
    Footer,       // an unsubscribe link in the mail itself
    MessageId,    // a Message-ID of its own per recipient
    Headers,      // one From, no header twice
    SpamScore,    // SpamAssassin's score of one merged message
};

struct Finding {
    FindingTopic topic = FindingTopic::Sender;
    FindingLevel level = FindingLevel::Pass;
    QString text;    // what was found, one sentence
    QString action;  // what to do (empty for a pass)
};

enum class SpamScoring { WhereInstalled, Skip };

// What the check reads of a run.
struct DeliverabilityInput {
    QString fromAddress;  // merged with the first recipient
    QString account;      // who signs in at the server; empty: nobody
    QString smtpHost;
    QStringList recipients;  // every recipient's address
    // One merged message, and another recipient's (or the same mail made again) for the
    // Message-ID; none when the mail cannot be made (messageError says why).
    std::shared_ptr<const smtp::CKTWSMTPMessage> message;
    std::shared_ptr<const smtp::CKTWSMTPMessage> another;
    QString messageError;
    UnsubscribeSettings unsubscribe;
    SpamScoring spamScoring = SpamScoring::WhereInstalled;
};

// The input of the flow's run (after check(), and for a merge send chooseSelection()).
[[nodiscard]] DeliverabilityInput deliverabilityInput(const CSendFlow& flow);
// The same from the run's messages and its server.
[[nodiscard]] DeliverabilityInput deliverabilityInput(CMessageAssembly& assembly,
                                                      const ServerConfig& server);

[[nodiscard]] std::vector<Finding> checkDeliverability(const DeliverabilityInput& input,
                                                       CDnsResolver& dns);

[[nodiscard]] FindingLevel worstLevel(const std::vector<Finding>& findings);
[[nodiscard]] QString levelName(FindingLevel level);
[[nodiscard]] QString topicName(FindingTopic topic);
// The findings as lines for the terminal, with the counts at the end.
[[nodiscard]] QStringList findingLines(const std::vector<Finding>& findings);

// Shows the findings before a run (nothing when all passed); a warning lets the user go on,
// a problem asks once more. True: go on with the run.
[[nodiscard]] bool confirmDeliverability(IUserInteraction& ui,
                                         const std::vector<Finding>& findings);

// The parts of the check that read no network, for the tests of their rules.
struct LinkMismatch {
    QString shown;   // the domain the link's text shows
    QString target;  // the host it leads to
};
[[nodiscard]] std::vector<LinkMismatch> misleadingLinks(const QString& html);

}  // namespace pw::send
