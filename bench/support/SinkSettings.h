#pragma once
// The settings file of the send benchmarks: the standard server is a sink on loopback, no
// login, plain TCP, no pause between mails, batches of 100, the first charset.
#include <QString>

#include "app/AppFolders.h"
#include "app/IniFile.h"
#include "app/Settings.h"

namespace pw::bench {

// Writes them over the settings file of `folders`; false when it cannot be saved.
[[nodiscard]] inline bool writeSinkSettings(const app::AppFolders& folders, int port) {
    app::CIniFile ini(folders.settingsPath(QStringLiteral("postwick")));
    (void)ini.Load();
    app::Settings settings = app::ReadSettings(ini);
    settings.server.smtpServer = QStringLiteral("127.0.0.1");
    settings.server.smtpPort = port;
    // no login: the session greets with EHLO all the same
    settings.server.smtpAuthType = SmtpAuthType::None;
    settings.server.smtpConnectionType = smtp::ConnectionType::None;
    settings.sendWait = 0;
    settings.oneTimeSend = 100;
    settings.encode = 0;
    app::WriteSettings(ini, settings);
    return ini.Save();
}

}  // namespace pw::bench
