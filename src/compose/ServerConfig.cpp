#include "compose/ServerConfig.h"

namespace pw {

ServerConfig withProjectServers(const ServerConfig& standard, const ServerConfig& project) {
    ServerConfig r = standard;
    if (!project.smtpServer.isEmpty())
        r.smtpServer = project.smtpServer;
    if (!project.popServer.isEmpty())
        r.popServer = project.popServer;
    if (!project.userId.isEmpty())
        r.userId = project.userId;
    if (!project.password.isEmpty())
        r.password = project.password;
    return r;
}

void readStored(int stored, VerifMethod& out) {
    switch (stored) {
        case 0:
            out = VerifMethod::Login;
            break;
        case 1:
            out = VerifMethod::CramMd5;
            break;
        case 6:
            out = VerifMethod::OAuth2;
            break;
        default:
            out = VerifMethod::Automatic;
            break;
    }
}

void readStored(int stored, SmtpAuthType& out) {
    switch (stored) {
        case 0:
            out = SmtpAuthType::None;
            break;
        case 4:
            out = SmtpAuthType::SameAsPop;
            break;
        default:
            out = SmtpAuthType::LogOnUsing;
            break;
    }
}

void readStored(int stored, smtp::ConnectionType& out) {
    switch (stored) {
        case 1:
            out = smtp::ConnectionType::SslTls;
            break;
        case 2:
            out = smtp::ConnectionType::StartTls;
            break;
        default:
            out = smtp::ConnectionType::None;
            break;
    }
}

}  // namespace pw
