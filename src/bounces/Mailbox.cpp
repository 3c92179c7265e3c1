#include "bounces/Mailbox.h"

#include <curl/curl.h>
#include <QRegularExpression>
#include <QUrl>
#include <memory>
#include <mutex>

namespace pw::bounces {

namespace {

size_t collect(char* data, size_t size, size_t count, void* target) {
    static_cast<QByteArray*>(target)->append(data, static_cast<qsizetype>(size) * qsizetype(count));
    return size * count;
}

// What the server sent, literals included: libcurl hands the data of a custom IMAP command
// only to its debug function.
int collectIncoming(CURL*, curl_infotype type, char* data, size_t size, void* target) {
    if (type == CURLINFO_HEADER_IN)
        static_cast<QByteArray*>(target)->append(data, static_cast<qsizetype>(size));
    return 0;
}

class Session {
public:
    explicit Session(const MailboxAccount& account) : m_handle(curl_easy_init()) {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        if (!m_handle)
            return;
        m_error[0] = '\0';
        curl_easy_setopt(m_handle, CURLOPT_ERRORBUFFER, m_error);
        curl_easy_setopt(m_handle, CURLOPT_USERNAME, account.user.toUtf8().constData());
        if (account.bearerToken.isEmpty()) {
            curl_easy_setopt(m_handle, CURLOPT_PASSWORD, account.password.toUtf8().constData());
        } else {
            curl_easy_setopt(m_handle, CURLOPT_XOAUTH2_BEARER,
                             account.bearerToken.toUtf8().constData());
            curl_easy_setopt(m_handle, CURLOPT_LOGIN_OPTIONS, "AUTH=XOAUTH2");
        }
        if (account.security == MailboxSecurity::StartTls)
            curl_easy_setopt(m_handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
        if (account.acceptUnverifiedCertificate) {
            curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYHOST, 0L);
        }
        curl_easy_setopt(m_handle, CURLOPT_CONNECTTIMEOUT, 30L);
        // a server that stops answering ends the read instead of hanging it
        curl_easy_setopt(m_handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(m_handle, CURLOPT_LOW_SPEED_TIME, 60L);
        curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, &m_body);
        curl_easy_setopt(m_handle, CURLOPT_DEBUGFUNCTION, collectIncoming);
        curl_easy_setopt(m_handle, CURLOPT_DEBUGDATA, &m_incoming);
        curl_easy_setopt(m_handle, CURLOPT_VERBOSE, 1L);
    }
    ~Session() {
        if (m_handle)
            curl_easy_cleanup(m_handle);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    [[nodiscard]] CURLcode perform(const QString& url, const QString& command) {
        m_body.clear();
        m_incoming.clear();
        if (!m_handle)
            return CURLE_FAILED_INIT;
        const QByteArray u = url.toUtf8();
        const QByteArray c = command.toUtf8();
        curl_easy_setopt(m_handle, CURLOPT_URL, u.constData());
        curl_easy_setopt(m_handle, CURLOPT_CUSTOMREQUEST, c.isEmpty() ? nullptr : c.constData());
        return curl_easy_perform(m_handle);
    }
    [[nodiscard]] const QByteArray& body() const { return m_body; }
    [[nodiscard]] const QByteArray& incoming() const { return m_incoming; }
    [[nodiscard]] QString error(CURLcode code) const {
        return m_error[0] ? QString::fromUtf8(m_error)
                          : QString::fromUtf8(curl_easy_strerror(code));
    }

private:
    CURL* m_handle;
    QByteArray m_body;
    QByteArray m_incoming;
    char m_error[CURL_ERROR_SIZE];
};

MailboxOutcome outcomeOf(CURLcode code) {
    switch (code) {
        case CURLE_LOGIN_DENIED:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_QUOTE_ERROR:
        case CURLE_REMOTE_FILE_NOT_FOUND:
            return MailboxOutcome::Refused;
        default:
            return MailboxOutcome::NoConnection;
    }
}

QString baseUrl(const MailboxAccount& a) {
    const bool tls = a.security == MailboxSecurity::Tls;
    QString scheme =
        a.protocol == MailboxProtocol::Imap ? QStringLiteral("imap") : QStringLiteral("pop3");
    if (tls)
        scheme += QLatin1Char('s');
    QString url = scheme + QStringLiteral("://") + a.host;
    if (a.port > 0)
        url += QLatin1Char(':') + QString::number(a.port);
    return url;
}

// The body of the literal that follows "BODY[] {n}" in a FETCH response.
QByteArray literalOf(const QByteArray& response) {
    static const QRegularExpression size(QStringLiteral("BODY\\[\\] \\{(\\d+)\\}\\r\\n"));
    const QRegularExpressionMatch m = size.match(QString::fromLatin1(response));
    if (!m.hasMatch())
        return {};
    return response.mid(m.capturedEnd(), m.captured(1).toLongLong());
}

MailboxRead readImap(const MailboxAccount& account, const MailboxPosition& from,
                     const MailboxProgress& progress) {
    MailboxRead read;
    Session session(account);
    const QString folderUrl = baseUrl(account) + QLatin1Char('/') +
                              QString::fromLatin1(QUrl::toPercentEncoding(account.folder));
    // the folder is selected first; its UIDVALIDITY tells whether old UIDs still hold
    CURLcode code =
        session.perform(folderUrl, QStringLiteral("UID SEARCH UID %1:*").arg(from.lastUid + 1));
    if (code != CURLE_OK)
        return {outcomeOf(code), session.error(code), {}, from};
    static const QRegularExpression validity(QStringLiteral("\\[UIDVALIDITY (\\d+)\\]"));
    read.position.uidValidity = validity.match(QString::fromLatin1(session.incoming())).captured(1);
    qint64 after = from.lastUid;
    if (read.position.uidValidity != from.uidValidity && after > 0) {
        after = 0;  // the folder was made anew: every UID is new
        code = session.perform(folderUrl, QStringLiteral("UID SEARCH ALL"));
        if (code != CURLE_OK)
            return {outcomeOf(code), session.error(code), {}, from};
    }
    std::vector<qint64> uids;
    for (const QByteArray& line : session.body().split('\n')) {
        if (!line.startsWith("* SEARCH"))
            continue;
        for (const QByteArray& n : line.mid(8).trimmed().split(' ')) {
            const qint64 uid = n.toLongLong();
            if (uid > after)  // "n:*" names the last message even when it is older
                uids.push_back(uid);
        }
    }
    read.position.lastUid = after;
    int done = 0;
    for (const qint64 uid : uids) {
        // PEEK: reading leaves the message unseen, as the user left it
        code = session.perform(folderUrl, QStringLiteral("UID FETCH %1 BODY.PEEK[]").arg(uid));
        if (code != CURLE_OK) {
            read.outcome = outcomeOf(code);
            read.error = session.error(code);
            break;  // the position stays before this message, so the next read retries it
        }
        read.mails.push_back({QString::number(uid), literalOf(session.incoming())});
        read.position.lastUid = std::max(read.position.lastUid, uid);
        if (progress)
            progress(++done, int(uids.size()));
    }
    return read;
}

MailboxRead readPop3(const MailboxAccount& account, const MailboxPosition& from,
                     const MailboxProgress& progress) {
    MailboxRead read;
    read.position = from;
    Session session(account);
    const QString base = baseUrl(account) + QLatin1Char('/');
    CURLcode code = session.perform(base, QStringLiteral("UIDL"));
    if (code != CURLE_OK)
        return {outcomeOf(code), session.error(code), {}, from};
    std::vector<std::pair<QString, QString>> fresh;  // number, UIDL
    QStringList present;
    for (const QByteArray& line : session.body().split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        if (parts.size() != 2)
            continue;
        const QString uidl = QString::fromLatin1(parts[1]);
        present.append(uidl);
        if (!from.seenUidls.contains(uidl))
            fresh.emplace_back(QString::fromLatin1(parts[0]), uidl);
    }
    // only what is still on the server is remembered, so the list does not grow for ever
    QStringList seen;
    for (const QString& uidl : from.seenUidls)
        if (present.contains(uidl))
            seen.append(uidl);
    int done = 0;
    for (const auto& [number, uidl] : fresh) {
        // TOP with every line rather than RETR: the server keeps the message as it was, not
        // even marked as read (RETR does that, seen from IMAP); nothing is ever deleted
        code = session.perform(base, QStringLiteral("TOP %1 2147483647").arg(number));
        if (code != CURLE_OK) {
            read.outcome = outcomeOf(code);
            read.error = session.error(code);
            break;
        }
        read.mails.push_back({uidl, session.body()});
        seen.append(uidl);
        if (progress)
            progress(++done, int(fresh.size()));
    }
    read.position.seenUidls = seen;
    return read;
}

// An IMAP quoted string.
QByteArray quoted(const QByteArray& text) {
    QByteArray q = text;
    q.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + q + '"';
}

// The last untagged "* NAME ..." line the server sent, without "* NAME ".
QByteArray untagged(const QByteArray& incoming, const QByteArray& name) {
    QByteArray found;
    for (const QByteArray& line : incoming.split('\n'))
        if (line.startsWith("* " + name + ' '))
            found = line.mid(name.size() + 3).trimmed();
    return found;
}

}  // namespace

QByteArray imapMailboxName(const QString& name) {
    QByteArray out;
    QString run;  // characters outside printable ASCII, written as base64 of UTF-16
    const auto flush = [&] {
        if (run.isEmpty())
            return;
        QByteArray utf16;
        for (const QChar c : run) {
            utf16.append(char(c.unicode() >> 8));
            utf16.append(char(c.unicode() & 0xff));
        }
        out += '&' + utf16.toBase64(QByteArray::OmitTrailingEquals).replace('/', ',') + '-';
        run.clear();
    };
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            run += c;
            continue;
        }
        flush();
        out += c == QLatin1Char('&') ? QByteArray("&-") : QByteArray(1, char(c.unicode()));
    }
    flush();
    return out;
}

MailboxMove moveToFolder(const MailboxAccount& account, const QString& uidValidity,
                         const QStringList& uids) {
    if (uids.isEmpty() || account.reportFolder.trimmed().isEmpty() ||
        account.protocol != MailboxProtocol::Imap)
        return {};
    Session session(account);
    const QString folderUrl = baseUrl(account) + QLatin1Char('/') +
                              QString::fromLatin1(QUrl::toPercentEncoding(account.folder));
    const auto failed = [&session](CURLcode code) {
        return MailboxMove{MoveOutcome::Failed, session.error(code)};
    };
    // the folder is selected again: the UIDs name the messages read only while its
    // UIDVALIDITY is the one of the read; the capabilities are those after the sign-in
    CURLcode code = session.perform(folderUrl, QStringLiteral("CAPABILITY"));
    if (code != CURLE_OK)
        return failed(code);
    static const QRegularExpression validity(QStringLiteral("\\[UIDVALIDITY (\\d+)\\]"));
    if (validity.match(QString::fromLatin1(session.incoming())).captured(1) != uidValidity)
        return {MoveOutcome::Failed, QStringLiteral("UIDVALIDITY")};
    const QList<QByteArray> offered =
        untagged(session.incoming(), "CAPABILITY").toUpper().split(' ');
    const bool move = offered.contains("MOVE");
    if (!move && !offered.contains("UIDPLUS"))
        return {MoveOutcome::NotOffered, {}};
    // the user writes levels with '/', the server may separate them otherwise
    code = session.perform(folderUrl, QStringLiteral("LIST \"\" \"\""));
    if (code != CURLE_OK)
        return failed(code);
    static const QRegularExpression delimiter(QStringLiteral("^\\([^)]*\\) \"(\\\\?.)\""));
    const QString separator =
        delimiter.match(QString::fromLatin1(untagged(session.incoming(), "LIST"))).captured(1);
    QString name = account.reportFolder.trimmed();
    if (!separator.isEmpty())
        name.replace(QLatin1Char('/'), separator.back());
    // moved into the folder it was read from, a report would come back as new mail each read
    if (name.compare(account.folder, Qt::CaseInsensitive) == 0)
        return {MoveOutcome::Failed, name};
    const QString target = QString::fromLatin1(quoted(imapMailboxName(name)));
    code = session.perform(folderUrl, QStringLiteral("LIST \"\" ") + target);
    if (code != CURLE_OK)
        return failed(code);
    if (untagged(session.incoming(), "LIST").isEmpty()) {
        code = session.perform(folderUrl, QStringLiteral("CREATE ") + target);
        if (code != CURLE_OK)
            return failed(code);
    }
    const QString set = uids.join(QLatin1Char(','));
    if (move) {
        code = session.perform(folderUrl, QStringLiteral("UID MOVE %1 %2").arg(set, target));
        return code == CURLE_OK ? MailboxMove{} : failed(code);
    }
    // Only these UIDs are expunged: a plain EXPUNGE would also remove what the user marked
    // deleted and meant to keep until their own client expunges it.
    for (const QString& command :
         {QStringLiteral("UID COPY %1 %2").arg(set, target),
          QStringLiteral("UID STORE %1 +FLAGS.SILENT (\\Deleted)").arg(set),
          QStringLiteral("UID EXPUNGE %1").arg(set)}) {
        code = session.perform(folderUrl, command);
        if (code != CURLE_OK)
            return failed(code);
    }
    return {};
}

MailboxAccount mailboxAccount(const ServerConfig& server) {
    MailboxAccount a;
    a.user = server.userId;
    a.password = server.password;
    a.acceptUnverifiedCertificate = server.acceptUnverifiedCertificate;
    const QString field = server.popServer.trimmed();
    const QUrl url(field);
    if (!field.contains(QLatin1String("://")) || !url.isValid()) {
        a.host = field;
        return a;
    }
    const QString scheme = url.scheme().toLower();
    a.protocol =
        scheme.startsWith(QLatin1String("imap")) ? MailboxProtocol::Imap : MailboxProtocol::Pop3;
    a.security =
        scheme.endsWith(QLatin1Char('s')) ? MailboxSecurity::Tls : MailboxSecurity::StartTls;
    a.host = url.host();
    a.port = url.port(0);
    const QString folder = url.path().mid(1);
    if (a.protocol == MailboxProtocol::Imap && !folder.isEmpty())
        a.folder = folder;
    return a;
}

MailboxAccount mailboxAccount(const send::ServerRecord& server) {
    MailboxAccount a = mailboxAccount(static_cast<const ServerConfig&>(server));
    if (server.tokens && server.tokens->signedIn())
        a.tokens = server.tokens;
    return a;
}

MailboxRead readNewMail(const MailboxAccount& account, const MailboxPosition& from,
                        const MailboxProgress& progress) {
    if (account.host.isEmpty())
        return {MailboxOutcome::NoConnection, {}, {}, from};
    return account.protocol == MailboxProtocol::Imap ? readImap(account, from, progress)
                                                     : readPop3(account, from, progress);
}

}  // namespace pw::bounces
