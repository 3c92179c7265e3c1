// What an SMTP server sends that the client parses: reply framing, EHLO extension lists,
// base64 challenges and NTLM CHALLENGE messages.

#include "smtp/Ntlm.h"
#include "smtp/SmtpAuth.h"
#include "smtp/SmtpReply.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const pw::smtp::SmtpReplyEnd end = pw::smtp::FindReplyEnd(bytes);
    if (end.length < 0 || end.length > bytes.size() || end.code < 0 || end.code > 999) {
        __builtin_trap();
    }
    const QString text = QString::fromUtf8(bytes);
    (void)pw::smtp::ChooseAuthMethod(pw::smtp::AuthMechanismsFromEhlo(text));
    (void)pw::smtp::EhloOffers(text, QStringLiteral("STARTTLS"));
    const QByteArray challenge = pw::smtp::DecodeChallenge(bytes);
    pw::smtp::CNTLMClientAuth ntlm;
    ntlm.SetCredentials(QStringLiteral("DOMAIN\\user"), QStringLiteral("password"));
    (void)ntlm.AuthenticateMessage(bytes);
    (void)ntlm.AuthenticateMessage(challenge);
    return 0;
}
