#pragma once
// The desktop keyring (the Secret Service of GNOME, KDE and others, through QtKeychain) for
// the secrets of the settings: the SMTP and POP3 passwords, the OAuth client secret and the
// refresh token of a sign-in. A password already in the settings file keeps working; saving
// with "Keep passwords in the desktop keyring" on moves it into the keyring and blanks its
// key in the file. Without a keyring (a cron job, a headless machine) nothing changes.

#include <QString>
#include <memory>
#include <optional>

#include "app/IniFile.h"
#include "app/Settings.h"

namespace pw::app {

class ISecretStore {
public:
    virtual ~ISecretStore() = default;
    // Whether a keyring answers (asked once; a locked or missing service does not).
    [[nodiscard]] virtual bool available() = 0;
    // nullopt: no entry, or no keyring.
    [[nodiscard]] virtual std::optional<QString> read(const QString& key) = 0;
    [[nodiscard]] virtual bool write(const QString& key, const QString& value) = 0;
    virtual bool remove(const QString& key) = 0;
};

// The Secret Service of the session bus, entries under the service "Postwick". Every call
// waits at most kTimeoutMs for the keyring (a prompt nobody answers counts as no keyring).
class CDesktopKeyring : public ISecretStore {
public:
    static constexpr int kTimeoutMs = 8000;
    bool available() override;
    std::optional<QString> read(const QString& key) override;
    bool write(const QString& key, const QString& value) override;
    bool remove(const QString& key) override;

private:
    std::optional<bool> m_available;
    // A keyring that refused a store or left it unanswered (locked, a prompt nobody sees) is
    // not asked to store again: each further try would keep the user waiting as long.
    bool m_storeRefused = false;
};

// The keyring's key of the password of a user of a list on a Firebird server.
[[nodiscard]] inline QString serverListPasswordKey(const QString& connection, const QString& user) {
    return QStringLiteral("firebird:") + user + QLatin1Char('@') + connection;
}

// Who signs in to a list on a server and with what, where none is saved: as Firebird's own
// tools take them (ISC_USER, ISC_PASSWORD); the keyring's password comes first.
[[nodiscard]] QString serverListUser(const QString& saved);
[[nodiscard]] QString serverListPassword(const QString& connection, const QString& user);

// The keyring of this process: the desktop's, unless POSTWICK_KEYRING=off says there is none.
[[nodiscard]] ISecretStore& processKeyring();

// Whether passwords go to the keyring: "KeyringPasswords" when it was chosen, else whether a
// keyring answers.
[[nodiscard]] bool keepsPasswordsInKeyring(const Settings& settings, ISecretStore& keyring);

// After ReadSettings: every secret whose key in the file is blank is read from the keyring.
void LoadSecrets(Settings& settings, ISecretStore& keyring);
// After WriteSettings into `ini`: with the preference on and a keyring answering, every secret
// goes into the keyring and its key in the file is blanked (only once the keyring took it).
// Otherwise passwords stay scrambled in the file. A refresh token goes to a keyring that
// answers, unless the user agreed to keep it in the file ("OAuthTokenInFile").
void StoreSecrets(CIniFile& ini, const Settings& settings, ISecretStore& keyring);
// At once after the server settings' OK: the sign-in's keys and the secrets, so that a
// "postwick --send" started before the window closes signs in as well. Call it once the
// refresh token found its place (StoreRefreshToken, else the user's answer).
void StoreSignIn(CIniFile& ini, const Settings& settings, ISecretStore& keyring);
// A sign-in's refresh token into the keyring; false when none took it (missing, locked).
[[nodiscard]] bool StoreRefreshToken(const QString& token, ISecretStore& keyring);

// Where the refresh token of the settings is kept: the keyring, or the settings file when
// the user agreed ("OAuthTokenInFile").
struct TokenPlace {
    enum class Where { Keyring, File } where = Where::Keyring;
    QString settingsPath;
};
[[nodiscard]] TokenPlace tokenPlaceOf(const Settings& settings);
// A refresh token the provider replaced during a run, put where the old one was (the file
// only as it is now: its other keys stay); false when it could not be kept.
[[nodiscard]] bool StoreRotatedToken(const QString& token, const TokenPlace& place,
                                     ISecretStore& keyring);

}  // namespace pw::app
