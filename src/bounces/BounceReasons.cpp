#include "bounces/BounceReasons.h"

#include "bounces/BounceReport.h"

#include <QRegularExpression>
#include <array>
#include <utility>

namespace pw::bounces {

namespace {

// Broad words ("rejected", "policy") name a kind of refusal, not its cause.
enum class Words { Telling, Broad };

struct ReasonWords {
    const char* reason;
    QRegularExpression words;
    Words breadth = Words::Telling;
};

QRegularExpression words(const char* pattern) {
    return QRegularExpression(
        QString::fromUtf8(pattern),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
}

// The servers' own words, the most telling first: a full mailbox is said with the word
// "mailbox", a missing one with "user" or "recipient", a refused sender with both.
const std::vector<ReasonWords>& table() {
    static const std::vector<ReasonWords> t = {
        {"hasmoved", words(R"(has been moved|has moved|address has changed)")},
        // a message the server refuses as not written to RFC 5322
        {"notcompliantrfc",
         words(R"(not rfc ?5322 compliant|multiple addresses in from|duplicate header|)"
               R"(multiple (subject|from|date|to|message-id) headers)")},
        // a verdict of spam outweighs the advice on authentication that may follow it
        {"spamdetected",
         words(R"(spam classification|(classified|flagged|identified|detected) as spam)")},
        // the cause a refusal names outweighs the step it came at ("after MAIL FROM")
        {"authfailure",
         words(
             R"(\bspf\b|dkim|dmarc|sender policy framework|unauthenticated email|authentication checks)")},
        // the recipient chose not to receive it: a filter of theirs, not a missing mailbox
        {"filtered", words(R"(recipient('s)? preferences|preferences of the (person|recipient))")},
        // a name server that failed to answer says nothing of whether the domain exists
        {"networkerror", words(R"(malformed or unexpected name server reply|\bservfail\b|)"
                               R"(name server (failure|timeout|not responding))")},
        // cPanel's Exim: the recipient's name could not be routed
        {"hostunknown", words(R"(account or domain may not exist)")},
        // a list of addresses, not of hosts: the address it holds is the sender's
        {"rejected", words(R"(address that has been (black|block)listed)")},
        {"requireptr",
         words(R"(reverse (dns|lookup)|ptr record|\bno ptr\b|not have a reverse|\brdns\b|)"
               R"(cannot find your hostname|mismatches client ip)")},
        // the sending host refused by name or by a list it is on
        {"blocked",
         words(R"(client host (\[[^\]]*\] )?(rejected|blocked)|blocked using|spamhaus|spamcop|)"
               R"(ip address (is )?(black|block)listed|(block|black|deny) ?list|)"
               // a host that relays for anyone is refused whatever it sends
               R"(\bopen relay|insecure (mail )?relay)")},
        // Gmail's refusal of content it deems unsafe (its reply is often cut after these words)
        {"policyviolation", words(R"(content presents a potential)")},
        // a low reputation is the cause; the spam the refusal speaks of its motive
        {"badreputation",
         words(R"(reputation|poor sending|ip (is )?not allowed|volume or user complaints)")},
        {"rejected",
         words(
             R"(sender address rejected|sender was rejected|domain of sender|sender (rejected|verify failed|denied|)"
             R"(domain|address invalid)|envelope[- ]sender|after mail from|mail from:.{0,80} rejected|)"
             R"(invalid sender|sender is not|unknown sender|bad sender|permission to post|)"
             R"(group you tried to contact|gruppe, die sie kontaktieren|groups\.google\.com/support|)"
             R"('send mail as'|customfromdenied|not a member of (this|the) (mailing )?list)")},
        {"contenterror", words(R"(media error|content error|invalid (mime|header))")},
        // the local delivery program failed, whatever words it passed on
        {"mailererror", words(R"((?<![\w.])(procmail|maildrop|deliver(mail)?):|couldn't create)")},
        // au names no address when its reception filter refuses
        {"filtered", words(R"(\b550 : user unknown)")},
        {"mailboxfull",
         words(
             R"(mailbox (is )?full|mailbox size limit|full mailbox|over ?quota|quota (exceeded|exceed|full)|)"
             R"(exceeded (storage|the quota|quota)|storage (quota|allocation)|disk quota|)"
             R"(too many messages in (this|the) mailbox|mailfolder is full|account is full|)"
             R"(is over (its|the) (quota|storage)|user.{0,20} is over|)"
             R"(out of storage|mail ?box (has )?exceed(ed|s)|メールボックスがいっぱい|容量)")},
        {"suspend",
         words(
             R"(account (has been |is )?(disabled|suspended|inactive|deactivated|locked|expired)|)"
             R"(mailbox (is )?(disabled|inactive|not active|suspended)|is (disabled|inactive|)"
             R"(suspended|deactivated)|temporarily disabled|user (account )?(is )?suspended|)"
             R"(disabled (mailbox|recipient|account)|been disabled|temporar(y|ily) locked|no longer (active|in use)|)"
             R"(email account that you tried to reach is (disabled|inactive))")},
        {"notaccept",
         words(R"(does not accept (any )?mail|accepts no mail|null mx|not accepting (any )?mail|)"
               R"(domain does not receive|indicated no smtp service|no smtp service|)"
               // a name with no mail exchanger (RFC 5321 5.1) declares no mail service
               R"(no mx (record )?found|)"
               R"(not accepting network messages)")},
        // our own host's name refused at HELO: the words that follow speak of it, not the
        // recipient's domain
        {"blocked", words(R"(my name was rejected|helo command rejected)")},
        // the receiving server could not secure the session (RFC 3207)
        {"failedstarttls",
         words(R"((does not|doesn't) support (start)?tls|starttls (failed|failure)|)"
               R"(tls (negotiation|handshake) failed)")},
        {"hostunknown",
         words(
             R"(host unknown|unknown host|host not found|no such (host|domain)|domain (not found|)"
             R"(bad destination system address|)"
             R"(does not exist|name not found|unknown)|unknown domain|name service error|)"
             R"(unrout(e)?able (mail )?domain|(couldn'?t|could not) find (any host|a mail exchanger)|)"
             R"(nxdomain|no mx|)"
             R"(domain is not (valid|found)|host or domain name not found|unknown mail domain|)"
             R"(invalid domain|dns (error|lookup fail(ed|ure))|host \S+ not found|no route to host|)"
             R"(domain \S+ (couldn't|could not) be found|)"
             R"(domain is not reachable)")},
        {"userunknown",
         words(
             R"(user unknown|unknown user|no such (user|mailbox|recipient|account|address|person)|)"
             R"(user (not found|does not exist|doesn't exist|not exist|is unknown)|)"
             R"(recipient (unknown|not found|does not exist|invalid)|)"
             R"(unknown recipient|invalid recipient|invalid (mailbox|address|user)|)"
             R"(invalid (final delivery )?user ?id|)"
             R"(mailbox (not found|unavailable|does not exist|doesn't exist|not available|)"
             R"(is unavailable|unknown|invalid)|address (does not exist|unknown|not found)|)"
             R"(unknown (local[- ]part|address|mailbox|or illegal alias)|address (couldn't|could not) be found|)"
             R"(no mailbox here|not (a )?(valid|known) (user|recipient|mailbox)|)"
             R"(account (that you tried to reach )?does not exist|does not exist|doesn't exist|)"
             R"(unrout(e)?able address|not our customer|bad destination mailbox|recipnotfound|)"
             R"(no account by that name|not listed in|undeliverable address|)"
             R"(doesn't have a \S+ account|unknown or illegal|mailbox name not allowed|)"
             R"(this user doesn't|is not a valid|not found in (directory|ldap)|no valid recipients|)"
             R"((?<!recipient |sender )address rejected(?!:)|宛先不明|存在しない|存在しません|)"
             R"(ディレクトリ(のリスト)?(に|には)(見つかりません|ありません)|)"
             // Microsoft's directory-based edge blocking: no such recipient in the tenant
             R"(5\.4\.1 .{0,60}access denied)")},
        {"norelaying",
         words(
             R"(relay(ing)? (access )?(denied|not permitted|prohibited|not allowed)|)"
             R"(not permitted to relay|unable to relay|we do not relay|not (allowed|authorized) to relay|)"
             R"(relaying denied|relay not permitted|no relaying|not configured to relay)")},
        {"requireptr",
         words(R"(reverse (dns|lookup|hostname)|ptr record|no ptr|rdns|cannot find your hostname|)"
               R"(unresolvable|not have a reverse|client host rejected: cannot find)")},
        {"virusdetected", words(R"(virus|malware|infected)")},
        {"spamdetected",
         words(
             R"(spam|junk mail|bulk mail|unsolicited|content rejected|message (content )?rejected as)")},
        {"blocked",
         words(
             R"(blocked|black ?list|block ?list|denylist|spamhaus|dnsbl|\brbl\b|listed (in|at|on)|)"
             R"(client host rejected|access denied|connection refused by|)"
             R"(your ip|ip address|please use the smtp server|banned|refused.{0,20}from|refused to talk)")},
        {"toomanyconn",
         words(R"(too many (connections|sessions|concurrent|recipients)|connection limit)")},
        {"speeding",
         words(R"(rate limit|too many (messages|mails|emails)|throttl|sending limit|rate of|)"
               R"(receiving mail at a rate)")},
        {"mesgtoobig",
         words(R"(message (is )?too (large|big)|message size exceeds|too (large|big)|size limit|)"
               R"(exceeds (the )?(maximum|size))")},
        {"exceedlimit", words(R"(exceeds? (the )?(limit|maximum)|limit exceeded)")},
        {"expired",
         words(
             R"(retry time|delivery time expired|message expired|(could|was) not (be )?delivered (within|for)|)"
             R"(too long|giving up|gave up|queue(d)? (for|too)|timeout exceeded|time ?limit|)"
             R"(delayed|expired|undeliverable for|has not been delivered|still undelivered|)"
             R"(failing for a long time|retry timeout|delivery failed \d+ attempts|)"
             R"(delivery (has )?(failed|been delayed) (after|for)|will be retried|)"
             // Gmail's words when it gave up on a server it could not reach
             R"(did not accept our requests to connect|could not contact dns servers)")},
        {"networkerror",
         words(
             R"(connection (refused|reset|timed out|closed|lost)|lost connection|network|)"
             R"(timed out|routing loop|mail loop|too many hops|unable to connect|could not connect|)"
             R"(host (not reachable|unreachable))")},
        {"systemfull",
         words(R"(insufficient (system storage|disk space)|disk full|system (is )?full)")},
        {"policyviolation", words(R"(polic(y|ies)|violat|prohibited|not allowed|forbidden)"),
         Words::Broad},
        {"securityerror",
         words(R"(authentication (required|failed)|tls|ssl|certificate|encryption|secure)"),
         Words::Broad},
        {"rejected",
         words(R"(sender|envelope[- ]from|mail from|from address|return path|domain of)"),
         Words::Broad},
        {"filtered", words(R"(filter|refused|rejected|denied|not authorized|not permitted)"),
         Words::Broad},
        {"syntaxerror", words(R"(syntax|command (not recognized|unrecognized)|bad sequence)"),
         Words::Broad},
        {"contenterror", words(R"(content|mime|header(?!s? (of the original|follow)))"),
         Words::Broad},
        {"mailererror",
         words(R"(mailer error|command (died|failed)|pipe to|program|exit code|x-unix)"),
         Words::Broad},
        {"systemerror",
         words(R"(system error|internal (server )?error|local error|temporar(y|ily)|try again|)"
               R"(server (is )?(busy|unavailable)|service (is |currently )?unavailable|resources)"),
         Words::Broad},
    };
    return t;
}

// The reason a code itself names; empty for codes that only give a class.
QString namedByCode(const QString& status) {
    // RFC 3463, with the codes registered since: X.7.13 (account disabled), X.7.17 and
    // X.7.18 (owner changed), X.7.20 to X.7.26 (RFC 7372, authentication), X.7.27 (RFC 7505)
    static const std::array<std::pair<const char*, const char*>, 34> byCode = {{
        {"1.1", "userunknown"},  {"1.0", "userunknown"},   {"1.3", "userunknown"},
        {"1.10", "notaccept"},   {"1.2", "hostunknown"},   {"1.6", "hasmoved"},
        {"1.7", "rejected"},     {"1.8", "rejected"},      {"2.1", "suspend"},
        {"2.2", "mailboxfull"},  {"2.3", "exceedlimit"},   {"2.4", "mailererror"},
        {"3.1", "systemfull"},   {"3.2", "notaccept"},     {"3.4", "mesgtoobig"},
        {"3.5", "systemerror"},  {"4.2", "expired"},       {"4.7", "expired"},
        {"4.4", "hostunknown"},  {"4.6", "networkerror"},  {"5.0", "syntaxerror"},
        {"6.0", "contenterror"}, {"7.1", "securityerror"}, {"7.13", "suspend"},
        {"7.17", "hasmoved"},    {"7.18", "hasmoved"},     {"7.20", "authfailure"},
        {"7.21", "authfailure"}, {"7.22", "authfailure"},  {"7.23", "authfailure"},
        {"7.24", "authfailure"}, {"7.25", "requireptr"},   {"7.26", "authfailure"},
        {"7.27", "notaccept"},
    }};
    const QString rest = status.mid(2);
    for (const auto& [code, reason] : byCode)
        if (rest == QLatin1String(code))
            return QString::fromLatin1(reason);
    return {};
}

QString reasonOfStatus(const QString& status) {
    if (const QString named = namedByCode(status); !named.isEmpty())
        return named;
    const QString rest = status.mid(2);
    if (rest.startsWith(QLatin1String("7.")))
        return QStringLiteral("securityerror");
    if (rest.startsWith(QLatin1String("4.")))
        return QStringLiteral("networkerror");
    return {};
}

const ReasonWords* wordsIn(const QString& text) {
    if (text.isEmpty())
        return nullptr;
    for (const ReasonWords& r : table())
        if (r.words.match(text).hasMatch())
            return &r;
    return nullptr;
}

QString reasonInWords(const QString& text) {
    const ReasonWords* r = wordsIn(text);
    return r ? QString::fromLatin1(r->reason) : QString();
}

// "x.0.y" and "x.y.0" are the "other or undefined" codes of a class
bool specificCode(const QString& status) {
    return !status.isEmpty() && status.mid(1, 2) != QLatin1String(".0") &&
           !status.endsWith(QLatin1String(".0"));
}

}  // namespace

QString reasonOf(const QString& status, const QString& replyCode, const QString& text) {
    return reasonOf(status, replyCode, text, QString());
}

QString reasonOf(const QString& status, const QString& replyCode, const QString& diagnostic,
                 const QString& surrounding) {
    // Postfix's "Recipient address rejected:" only labels the restriction; its words follow
    static const QRegularExpression label(QStringLiteral("recipient address rejected:"),
                                          QRegularExpression::CaseInsensitiveOption);
    const ReasonWords* said = wordsIn(QString(diagnostic).remove(label));
    if (!said)
        said = wordsIn(diagnostic);
    QString reason = said ? QString::fromLatin1(said->reason) : QString();
    // a specific code that names a reason says more than broad words, and any specific code
    // more than the words around it
    if (said && said->breadth == Words::Broad && specificCode(status) &&
        !namedByCode(status).isEmpty())
        reason = namedByCode(status);
    if (reason.isEmpty()) {
        reason = specificCode(status) ? QString() : reasonInWords(surrounding);
        if (reason.isEmpty())
            reason = reasonOfStatus(status);
    }
    if (!reason.isEmpty())
        return reason;
    if (status.startsWith(QLatin1Char('4')) || replyCode.startsWith(QLatin1Char('4')))
        return QStringLiteral("systemerror");
    // a failure that says nothing of its cause waits for a person to judge it
    return QStringLiteral("onhold");
}

BounceKind kindOf(const QString& reason, const QString& status) {
    if (reason == QLatin1String("feedback"))
        return BounceKind::Complaint;
    if (reason == QLatin1String("vacation"))
        return BounceKind::AutoReply;
    if (reason == QLatin1String("delivered"))
        return BounceKind::Delivered;
    // an unknown user stays unknown whatever class the server gave; a host may come back
    if (reason == QLatin1String("userunknown") || reason == QLatin1String("hasmoved"))
        return BounceKind::Hard;
    if ((reason == QLatin1String("hostunknown") || reason == QLatin1String("notaccept")) &&
        !status.startsWith(QLatin1Char('4')))
        return BounceKind::Hard;
    return BounceKind::Soft;
}

QString pseudoStatus(const QString& reason, bool transient) {
    static const std::array<std::pair<const char*, int>, 17> numbers = {{
        {"undefined", 900},
        {"onhold", 901},
        {"requireptr", 973},
        {"filtered", 910},
        {"userunknown", 911},
        {"hostunknown", 912},
        {"rejected", 918},
        {"suspend", 921},
        {"mailboxfull", 922},
        {"systemerror", 930},
        {"notaccept", 932},
        {"mailererror", 939},
        {"expired", 947},
        {"blocked", 971},
        {"failedstarttls", 976},
        {"norelaying", 0},
        {"delivered", 0},
    }};
    for (const auto& [name, number] : numbers)
        if (reason == QLatin1String(name))
            return number == 0 ? QString()
                               : QStringLiteral("%1.0.%2").arg(transient ? 4 : 5).arg(number);
    return {};
}

QString standardStatus(const QString& reason, bool transient) {
    static const std::array<std::pair<const char*, const char*>, 9> codes = {{
        {"hasmoved", "1.6"},
        {"exceedlimit", "2.3"},
        {"systemfull", "3.1"},
        {"mesgtoobig", "3.4"},
        {"networkerror", "4.0"},
        {"syntaxerror", "5.0"},
        {"contenterror", "6.0"},
        {"securityerror", "7.0"},
        {"policyviolation", "7.0"},
    }};
    for (const auto& [name, code] : codes)
        if (reason == QLatin1String(name))
            return QStringLiteral("%1.%2").arg(transient ? 4 : 5).arg(QLatin1String(code));
    return {};
}

}  // namespace pw::bounces
