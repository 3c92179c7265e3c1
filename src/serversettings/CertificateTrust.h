#pragma once
// Certificates the user trusts per server: for each host and port exactly one certificate
// (its SHA-256), kept in a settings section of its own, one key per server:
//   [CERTIFICATES]
//   mail.example.org:465=<64 hexadecimal digits>
// A different certificate on the same host and port is refused again until it is trusted
// in its turn, which replaces the earlier one.

#include <QList>
#include <QString>
#include <optional>

#include "resources/UserInteraction.h"
#include "send/SendTransport.h"
#include "smtp/SSLSocket.h"

namespace pw::serversettings {

using smtp::PeerCertificate;
using smtp::TrustedCertificate;

inline constexpr char kCertificatesSection[] = "CERTIFICATES";

// "host:port" with the host in lower case.
[[nodiscard]] QString trustKey(const QString& host, int port);
[[nodiscard]] QString trustValue(const TrustedCertificate& trusted);
// None for a key or value that is not of the stored form.
[[nodiscard]] std::optional<TrustedCertificate> parseTrust(const QString& key,
                                                           const QString& value);

// Trusts the certificate for its host and port, replacing what was trusted there before.
void trustCertificate(QList<TrustedCertificate>& list, const TrustedCertificate& trusted);
[[nodiscard]] std::optional<TrustedCertificate> trustedFor(const QList<TrustedCertificate>& list,
                                                           const QString& host, int port);

// What the user is told about a refused certificate: why it was refused, its subject,
// issuer, validity and fingerprint.
[[nodiscard]] QString certificateDescription(const PeerCertificate& certificate,
                                             const QString& reason, const QString& host, int port);
// The same, followed by whether to trust it for this server.
[[nodiscard]] QString certificateQuestion(const PeerCertificate& certificate, const QString& reason,
                                          const QString& host, int port);

// Asks the question (Yes/No) for a refused connection, of the connection test or of a send
// run alike; on Yes the certificate to trust for its host and port.
[[nodiscard]] std::optional<TrustedCertificate> askToTrust(IUserInteraction& ui,
                                                           const QString& caption,
                                                           const send::CertificateRefusal& refusal);

// Where no question can be asked (the command line): how to trust exactly this certificate,
// the settings line included.
[[nodiscard]] QString trustInstructions(const send::CertificateRefusal& refusal,
                                        const QString& settingsPath);

}  // namespace pw::serversettings
