#pragma once
// The parts of the settings file that belong to the server settings: the registered servers
// ("SERVERS") and the certificates trusted per server ("CERTIFICATES"), and the bridge
// between the in-memory settings and what the server settings dialog edits.

#include "app/IniFile.h"
#include "app/Settings.h"
#include "compose/MailDocument.h"
#include "serversettings/ServerProfiles.h"
#include "serversettings/ServerSettingsEditor.h"

namespace pw::app {

inline constexpr char kServers[] = "SERVERS";

// "No" and the keys "0" ... (at most the first 100).
[[nodiscard]] serversettings::CServerList LoadServerList(const CIniFile& ini);
// Removes the keys "0" ... of the stored count, then writes "No" and the current records.
void StoreServerList(CIniFile& ini, const serversettings::CServerList& list);

// Entries that are not of the stored form are skipped.
[[nodiscard]] QList<smtp::TrustedCertificate> ReadTrustedCertificates(const CIniFile& ini);
// Load, set the one key of this host and port, save: the choice holds even if the program
// does not end in order, and the command line sees it at once.
[[nodiscard]] bool StoreTrustedCertificate(const QString& settingsPath,
                                           const smtp::TrustedCertificate& trusted);

// What the dialog starts from, and what OK gives back into the settings and the document.
[[nodiscard]] serversettings::ServerSettingsValues ServerValuesOf(const Settings& settings,
                                                                  const ServerConfig& project);
void ApplyServerValues(const serversettings::ServerSettingsValues& values, Settings& settings,
                       ServerConfig& project);

// The sign-in of the settings, and back.
[[nodiscard]] serversettings::OAuthValues OAuthValuesOf(const Settings& settings);
void ApplyOAuthValues(const serversettings::OAuthValues& values, Settings& settings);

}  // namespace pw::app
