#include "send/SendTransport.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "resources/Strings.h"
#include "smtp/KTWSMTPConnection.h"
#include "smtp/KTWSMTPException.h"
#include "smtp/KTWSMTPMessage.h"
#include "smtp/SmtpAuth.h"
#include "smtp/SmtpTexts.h"

namespace pw::send {
namespace {

// Removes the dot that the SMTP dot fix puts before every line starting with ".", while the
// body streams through, so that the file holds the message as the recipient gets it.
class DotUnstuffer {
public:
    explicit DotUnstuffer(QIODevice& out) : m_out(out) {}
    void operator()(QByteArrayView bytes) {
        qsizetype start = 0;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (m_atLineStart && c == '.') {
                // the first dot at a line start is the one the dot fix added
                flush(bytes, start, i);
                start = i + 1;
                m_atLineStart = false;
                continue;
            }
            m_atLineStart = m_afterCr && c == '\n';
            m_afterCr = c == '\r';
        }
        flush(bytes, start, bytes.size());
    }
    [[nodiscard]] bool ok() const { return m_ok; }

private:
    void flush(QByteArrayView bytes, qsizetype from, qsizetype to) {
        if (to > from && m_out.write(bytes.data() + from, to - from) != to - from)
            m_ok = false;
    }
    QIODevice& m_out;
    bool m_atLineStart = true;
    bool m_afterCr = false;
    bool m_ok = true;
};

FailureKind kindOf(const smtp::CKTWSMTPException& e, int lastCode) {
    using smtp::CKTWSMTPException;
    if (e.Facility() == CKTWSMTPException::kFacilityItf) {
        switch (e.Code()) {
            case smtp::msg::kGracefulDisconnect:
            case smtp::msg::kFailReceiveViaSsl:
            case smtp::msg::kFailSendViaSsl:
                return FailureKind::Connection;
            case smtp::msg::kMessageTooLarge:
            case smtp::msg::kBearerTokenRefused:
                return FailureKind::Refused;  // no server takes it any better later
            default:
                break;
        }
        if (lastCode == 0)
            return FailureKind::Connection;  // no reply in time
        if (lastCode >= 400 && lastCode < 500)
            return FailureKind::RefusedForNow;
        return FailureKind::Refused;  // 5xx, or a reply that does not fit the command
    }
    switch (e.Code()) {
        case ENOENT:
        case EACCES:
        case EPERM:
        case EISDIR:
        case ENOTDIR:
        case ELOOP:
        case ENAMETOOLONG:
        case EFBIG:
        case EIO:
            return FailureKind::Local;  // reading the message's files
        default:
            return FailureKind::Connection;
    }
}

TransportResult failure(const smtp::CKTWSMTPException& e, int lastCode) {
    TransportResult r;
    r.ok = false;
    r.kind = kindOf(e, lastCode);
    r.errorCode = e.Error();
    r.description = e.Description();
    r.lastResponse = e.LastResponse();
    r.lastResponseCode = lastCode;
    return r;
}

}  // namespace

QString ISendTransport::connectedEntry(const ConnectCall& call) const {
    return str(ids::kLogConnected) + connectDetail(call);
}

QString ISendTransport::disconnectedEntry() const {
    return str(ids::kLogConnectionBroken);
}

QString CDryRunTransport::connectedEntry(const ConnectCall& call) const {
    return formatMessageText(str(ids::kLogDryRunStarted),
                             {QDir::toNativeSeparators(m_folder), call.host});
}

QString CDryRunTransport::disconnectedEntry() const {
    return formatMessageText(str(ids::kLogDryRunEnded), {QString::number(m_number - m_first),
                                                         QDir::toNativeSeparators(m_folder)});
}

CDryRunTransport::CDryRunTransport(QString folder) : m_folder(std::move(folder)) {
    if (!m_folder.endsWith(QLatin1Char('/')))
        m_folder += QLatin1Char('/');
    // an earlier dry run into the same folder keeps its messages: this one goes on after them
    const QStringList names = QDir(m_folder).entryList({QStringLiteral("*.eml")},
                                                       QDir::Files | QDir::System | QDir::Hidden);
    for (const QString& name : names) {
        const QString digits = name.chopped(4);
        bool ok = digits.size() >= 5 && digits.size() <= 9;
        for (const QChar c : digits)
            ok = ok && c.isDigit() && c.unicode() < 0x80;
        if (ok)
            m_number = std::max(m_number, digits.toInt());
    }
    m_first = m_number;
}

CDryRunTransport::~CDryRunTransport() {
    (void)sync();
}

bool CDryRunTransport::sync() {
    if (m_unsynced > 0) {
        m_unsynced = 0;
        // one pass for the files and their names: the folder's file system is synced whole
        const int dir =
            ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0 || ::syncfs(dir) != 0)
            m_syncError = errno;
        if (dir >= 0)
            ::close(dir);
    }
    return m_syncError == 0;
}

TransportResult CDryRunTransport::connect(const ConnectCall&) {
    m_connected.store(true);
    return TransportResult::success();
}

TransportResult CDryRunTransport::disconnect(bool) {
    m_connected.store(false);
    if (sync())
        return TransportResult::success();
    TransportResult r;
    r.ok = false;
    r.kind = FailureKind::Local;
    r.description =
        m_folder + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(m_syncError));
    m_syncError = 0;
    return r;
}

namespace {

// Gives the whole file at `from` the name `to`, never replacing what stands there (a file, a
// link, a dangling link). A file system without the no-replace rename takes a hard link.
int nameWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(a.constData(), b.constData()) != 0)
        return errno;
    ::unlink(a.constData());
    return 0;
}

}  // namespace

TransportResult CDryRunTransport::send(const CKTWSMTPMessage& message) {
    if (!m_connected.load()) {
        TransportResult r;
        r.ok = false;
        r.kind = FailureKind::Connection;
        r.errorCode =
            smtp::CKTWSMTPException::MakeError(smtp::CKTWSMTPException::kFacilityWin32, ENOTCONN);
        r.description = QString::fromLocal8Bit(std::strerror(ENOTCONN));
        return r;
    }
    const QString path =
        m_folder + QStringLiteral("%1.eml").arg(m_number + 1, 5, 10, QLatin1Char('0'));
    auto ioFailure = [&path](int error) {
        TransportResult r;
        r.ok = false;
        r.kind = FailureKind::Local;
        r.errorCode =
            smtp::CKTWSMTPException::MakeError(smtp::CKTWSMTPException::kFacilityWin32, error);
        r.description = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
        return r;
    };
    // A name taken already fails the message before anything is written.
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        return ioFailure(EEXIST);
    // A new file of our own: a link or a file planted under the name is neither followed nor
    // overwritten, and nobody else can read the mails.
    const QString part =
        m_folder + QStringLiteral(".%1.eml.part").arg(m_number + 1, 5, 10, QLatin1Char('0'));
    const QByteArray partName = QFile::encodeName(part);
    const int fd =
        ::open(partName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return ioFailure(errno);
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        ::unlink(partName.constData());
        return ioFailure(EIO);
    }
    try {
        bool ok = file.write(message.header()) >= 0 && file.write("\r\n", 2) == 2;
        DotUnstuffer unstuff(file);
        message.writeBody([&unstuff](QByteArrayView bytes) { unstuff(bytes); });
        // The line end before the final "." belongs to the message the server stores.
        ok = ok && file.write("\r\n", 2) == 2 && unstuff.ok() && file.flush();
        file.close();
        if (!ok || file.error() != QFileDevice::NoError) {
            ::unlink(partName.constData());
            return ioFailure(EIO);
        }
    } catch (const smtp::CKTWSMTPException& e) {
        file.close();
        ::unlink(partName.constData());
        return failure(e, 0);
    }
    if (const int error = nameWithoutReplacing(part, path); error != 0) {
        ::unlink(partName.constData());
        return ioFailure(error);
    }
    ++m_number;
    m_lastFile = path;
    // the message is whole under its name; a failed sync is told at the disconnect
    if (++m_unsynced >= kSyncEvery)
        (void)sync();
    return TransportResult::success();
}

}  // namespace pw::send

// ---- the SMTP session ----

namespace pw::send {

CSmtpTransport::CSmtpTransport(bool acceptUnverifiedCertificate)
    : m_session(std::make_unique<CKTWSMTPConnection>()) {
    m_session->SetCertificateCheck(acceptUnverifiedCertificate
                                       ? smtp::CertificateCheck::AcceptUnverified
                                       : smtp::CertificateCheck::Verify);
}

CSmtpTransport::CSmtpTransport(const ServerRecord& server)
    : CSmtpTransport(server.acceptUnverifiedCertificate) {
    m_session->SetTrustedCertificates(server.trustedCertificates);
}

CSmtpTransport::~CSmtpTransport() {
    try {
        if (m_session->IsConnected())
            m_session->Disconnect(smtp::DisconnectMode::NotGraceful);
    } catch (...) {
    }
}

TransportResult CSmtpTransport::connect(const ConnectCall& call) {
    try {
        m_session->SetBearerToken(call.bearerToken);
        m_session->Connect(call.host, call.method, call.userName, call.password, call.port,
                           call.kind);
        return TransportResult::success();
    } catch (const smtp::CKTWSMTPException& e) {
        TransportResult r = failure(e, m_session->LastResponseCode());
        r.certificateRefused = e.Facility() == smtp::CKTWSMTPException::kFacilityItf &&
                               e.Code() == smtp::msg::kCertificateRefused;
        r.certificate = m_session->LastPeerCertificate();
        return r;
    }
}

TransportResult CSmtpTransport::send(const CKTWSMTPMessage& message) {
    return sendOn(message, nullptr);
}

bool CSmtpTransport::sendsAhead() const {
    return m_session->IsConnected() && m_session->PipeliningOffered();
}

TransportResult CSmtpTransport::sendBefore(const CKTWSMTPMessage& message,
                                           const CKTWSMTPMessage& next) {
    return sendOn(message, &next);
}

void CSmtpTransport::abandonNext() {
    m_session->AbandonNext();
}

TransportResult CSmtpTransport::sendOn(const CKTWSMTPMessage& message,
                                       const CKTWSMTPMessage* next) {
    try {
        m_session->SendMessage(message, next);
        return TransportResult::success();
    } catch (const smtp::CKTWSMTPException& e) {
        TransportResult r = failure(e, m_session->LastResponseCode());
        if (m_session->PossiblyDelivered())
            r.kind = FailureKind::PossiblyDelivered;
        return r;
    }
}

TransportResult CSmtpTransport::disconnect(bool graceful) {
    try {
        m_session->Disconnect(graceful ? smtp::DisconnectMode::Graceful
                                       : smtp::DisconnectMode::NotGraceful);
        return TransportResult::success();
    } catch (const smtp::CKTWSMTPException& e) {
        return failure(e, m_session->LastResponseCode());
    }
}

bool CSmtpTransport::isConnected() const {
    return m_session->IsConnected();
}

void CSmtpTransport::abort() {
    m_session->Abort();
}

TransportResult CSmtpTransport::verifySender() {
    try {
        m_session->VerifySender();
        return TransportResult::success();
    } catch (const smtp::CKTWSMTPException& e) {
        return failure(e, m_session->LastResponseCode());
    }
}

bool CSmtpTransport::offered(const QString& keyword) const {
    return smtp::EhloOffers(m_session->LastEhloReply(), keyword);
}

void CSmtpTransport::setTimeout(int milliseconds) {
    m_session->SetTimeout(milliseconds);
}

}  // namespace pw::send
