#include "send/SendTransport.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QBuffer>
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

SmtpStage stageOf(const smtp::CKTWSMTPException& e) {
    if (e.Facility() != smtp::CKTWSMTPException::kFacilityItf)
        return SmtpStage::Other;
    switch (e.Code()) {
        case smtp::msg::kUnexpectedLoginResponse:
        case smtp::msg::kUnexpectedEhloResponse:
        case smtp::msg::kUnexpectedHeloResponse:
            return SmtpStage::Connect;
        // a provider that counts sign-ins or holds the account says so here
        case smtp::msg::kUnexpectedAuthLoginResponse:
        case smtp::msg::kUnexpectedAuthLoginUserRequest:
        case smtp::msg::kUnexpectedAuthLoginUserResponse:
        case smtp::msg::kUnexpectedAuthLoginPasswordRequest:
        case smtp::msg::kUnexpectedAuthLoginPasswordResponse:
        case smtp::msg::kUnexpectedAuthPlainResponse:
        case smtp::msg::kUnexpectedCramMd5Response:
        case smtp::msg::kUnexpectedCramMd5DigestResponse:
        case smtp::msg::kUnexpectedAuthNtlmResponse:
        case smtp::msg::kUnexpectedXOAuth2Response:
        case smtp::msg::kUnexpectedOAuthBearerResponse:
            return SmtpStage::Auth;
        case smtp::msg::kUnexpectedMailFromResponse:
            return SmtpStage::MailFrom;
        case smtp::msg::kUnexpectedRcptToResponse:
            return SmtpStage::Rcpt;
        case smtp::msg::kUnexpectedDataResponse:
            return SmtpStage::Data;
        case smtp::msg::kUnexpectedEndOfMessageResponse:
            return SmtpStage::EndOfData;
        default:
            return SmtpStage::Other;
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
    r.stage = stageOf(e);
    // a refusal for the account's limit is no recipient's failure, whatever its code
    if (r.stage != SmtpStage::Other &&
        (r.kind == FailureKind::Refused || r.kind == FailureKind::RefusedForNow)) {
        r.limit = classifyRefusal(r.stage, lastCode, r.lastResponse);
        if (r.limit != LimitReply::None)
            r.kind = FailureKind::AccountLimit;
    }
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

namespace {

QString numberedName(int number) {
    return QStringLiteral("%1.eml").arg(number, 5, 10, QLatin1Char('0'));
}
QString hiddenName(int number) {
    return QStringLiteral(".%1.eml.part").arg(number, 5, 10, QLatin1Char('0'));
}
// "<digits>" + suffix with 5 to 9 ASCII digits: the number, or -1.
int numberOf(const QString& name, qsizetype prefix, qsizetype suffix) {
    const QString digits = name.mid(prefix, name.size() - prefix - suffix);
    bool ok = digits.size() >= 5 && digits.size() <= 9;
    for (const QChar c : digits)
        ok = ok && c.isDigit() && c.unicode() < 0x80;
    return ok ? digits.toInt() : -1;
}

}  // namespace

CDryRunTransport::CDryRunTransport(QString folder) : m_folder(std::move(folder)) {
    if (!m_folder.endsWith(QLatin1Char('/')))
        m_folder += QLatin1Char('/');
    // an earlier dry run into the same folder keeps its messages: this one goes on after them
    const QDir dir(m_folder);
    for (const QString& name :
         dir.entryList({QStringLiteral("*.eml")}, QDir::Files | QDir::System | QDir::Hidden))
        m_number = std::max(m_number, numberOf(name, 0, 4));
    m_first = m_number;
    // what a crashed run had not made durable yet never took a name: nothing to keep
    for (const QString& name :
         dir.entryList({QStringLiteral(".*.eml.part")}, QDir::Files | QDir::System | QDir::Hidden))
        if (numberOf(name, 1, 9) >= 0)
            ::unlink(QFile::encodeName(m_folder + name).constData());
}

CDryRunTransport::~CDryRunTransport() {
    (void)sync();
}

namespace {

// Gives the whole file `from` the name `to` in the folder `dir`, never replacing what stands
// there (a file, a link, a dangling link). A file system without the no-replace rename takes
// a hard link.
int nameWithoutReplacing(int dir, const QByteArray& from, const QByteArray& to) {
    if (::renameat2(dir, from.constData(), dir, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::linkat(dir, from.constData(), dir, to.constData(), 0) != 0)
        return errno;
    ::unlinkat(dir, from.constData(), 0);
    return 0;
}

}  // namespace

bool CDryRunTransport::sync() {
    if (m_unnamed.empty())
        return m_syncError == 0;
    const auto fail = [this](int error, const QString& file) {
        if (m_syncError == 0) {
            m_syncError = error;
            m_syncFailure = file;
        }
    };
    const int dir =
        ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        fail(errno, QString());
        m_unnamed.clear();
        return false;
    }
    // The data of the whole batch first, in one pass over the folder's file system; then the
    // names, and the folder once for them. A failed pass is told, and the messages still take
    // their names: the run has counted them.
    if (::syncfs(dir) != 0)
        fail(errno, QString());
    for (const int number : m_unnamed) {
        const QByteArray part = QFile::encodeName(hiddenName(number));
        if (const int error =
                nameWithoutReplacing(dir, part, QFile::encodeName(numberedName(number)));
            error != 0)
            fail(error, m_folder + hiddenName(number));  // it stays, whole, under the hidden name
        else if (number == m_number)
            m_lastFile = m_folder + numberedName(number);
    }
    m_unnamed.clear();
    if (::fsync(dir) != 0)
        fail(errno, QString());
    ::close(dir);
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
    r.description = (m_syncFailure.isEmpty() ? m_folder : m_syncFailure) + QStringLiteral(": ") +
                    QString::fromLocal8Bit(std::strerror(m_syncError));
    m_syncError = 0;
    m_syncFailure.clear();
    return r;
}

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
    const int number = m_number + 1;
    const QString path = m_folder + numberedName(number);
    auto ioFailure = [&path](int error) {
        TransportResult r;
        r.ok = false;
        r.kind = FailureKind::Local;
        r.errorCode =
            smtp::CKTWSMTPException::MakeError(smtp::CKTWSMTPException::kFacilityWin32, error);
        r.description = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
        return r;
    };
    // A name taken already (a file, a link, a dangling link) fails the message before anything
    // is written.
    struct stat st {};
    if (::fstatat(AT_FDCWD, QFile::encodeName(path).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return ioFailure(EEXIST);
    QByteArray bytes;
    try {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        bool ok = buffer.write(message.header()) >= 0 && buffer.write("\r\n", 2) == 2;
        DotUnstuffer unstuff(buffer);
        message.writeBody([&unstuff](QByteArrayView b) { unstuff(b); });
        // The line end before the final "." belongs to the message the server stores.
        ok = ok && buffer.write("\r\n", 2) == 2 && unstuff.ok();
        if (!ok)
            return ioFailure(ENOMEM);
    } catch (const smtp::CKTWSMTPException& e) {
        return failure(e, 0);
    }
    // A new file of our own: a link or a file planted under the name is neither followed nor
    // overwritten, and nobody else can read the mails.
    const QString part = m_folder + hiddenName(number);
    const QByteArray partName = QFile::encodeName(part);
    const int fd =
        ::open(partName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return ioFailure(errno);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(partName.constData());
            return ioFailure(error);
        }
        done += n;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(partName.constData());
        return ioFailure(error);
    }
    m_number = number;
    m_lastFile = part;
    m_unnamed.push_back(number);
    // the message is whole under its hidden name; a failed sync is told at the disconnect
    if (int(m_unnamed.size()) >= kSyncEvery)
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

void CSmtpTransport::setBeforeDataEnd(std::function<void()> hook) {
    m_session->SetBeforeDataEnd(std::move(hook));
}

void CSmtpTransport::setAwaitingReply(std::function<void()> hook) {
    m_session->SetAwaitingReply(std::move(hook));
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

void CSmtpTransport::setClock(std::function<std::chrono::steady_clock::time_point()> now) {
    m_session->SetClock(std::move(now));
}

}  // namespace pw::send
