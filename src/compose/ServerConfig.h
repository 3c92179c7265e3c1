#pragma once
// One SMTP account's settings, as the settings file, the registered servers, the project
// file, the server settings dialog and a send run all hold them. The numbers stored in the
// files meet the enums only where those files are read and written.

#include <QString>

#include "smtp/ConnectionType.h"

namespace pw {

// "SMTPAuthType": whether the session signs in, and where its credentials were taken from
// when the advanced settings were confirmed. Either way the run signs in with the SMTP user
// name and password.
enum class SmtpAuthType : int { None = 0, SameAsPop = 4, LogOnUsing = 5 };

// "SMTPVerifMethod": the mechanism of the sign-in.
enum class VerifMethod : int { Automatic = -1, Login = 0, CramMd5 = 1, OAuth2 = 6 };

struct ServerConfig {
    QString from;  // sender address
    QString name;  // sender name
    QString smtpServer;
    QString popServer;
    QString userId;    // POP3 user
    QString password;  // POP3 password; clear text in memory, scrambled in the files
    int authType = 1;  // "AuthType": kept and carried along, never used to connect
    int smtpPort = 25;
    VerifMethod smtpVerifMethod = VerifMethod::Login;
    SmtpAuthType smtpAuthType = SmtpAuthType::None;
    QString smtpUserName;
    QString smtpPassword;
    smtp::ConnectionType smtpConnectionType = smtp::ConnectionType::None;
    bool acceptUnverifiedCertificate = false;

    [[nodiscard]] bool signsIn() const { return smtpAuthType != SmtpAuthType::None; }

    friend bool operator==(const ServerConfig&, const ServerConfig&) = default;
};

// The standard settings with the project's SMTP server, POP3 server, user ID and password in
// their place where the project has them; a project keeps nothing else of a server.
[[nodiscard]] ServerConfig withProjectServers(const ServerConfig& standard,
                                              const ServerConfig& project);

// The stored numbers. A number the program never writes reads as what a run makes of it:
// any other verification method is the automatic choice, any other non-zero authentication
// type signs in with the SMTP credentials, any other connection type is plain.
void readStored(int stored, VerifMethod& out);
void readStored(int stored, SmtpAuthType& out);
void readStored(int stored, smtp::ConnectionType& out);
template <typename Enum>
[[nodiscard]] constexpr int storedNumber(Enum value) {
    return static_cast<int>(value);
}

}  // namespace pw
