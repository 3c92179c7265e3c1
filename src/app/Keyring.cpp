#include "app/Keyring.h"

#include <qt6keychain/keychain.h>
#include <QEventLoop>
#include <QTimer>

namespace pw::app {

namespace {

constexpr char kService[] = "Postwick";

struct Secret {
    const char* key;
    enum class Field { Password, SmtpPassword, OAuthClientSecret, OAuthRefreshToken } field;
    bool token;  // the refresh token goes to a keyring whatever the preference says
};

const Secret kSecrets[] = {
    {"Password", Secret::Field::Password, false},
    {"SMTPPassword", Secret::Field::SmtpPassword, false},
    {"OAuthClientSecret", Secret::Field::OAuthClientSecret, false},
    {"OAuthRefreshToken", Secret::Field::OAuthRefreshToken, true},
};

// The setting a secret is kept in, of a Settings or a const Settings.
template <typename S>
auto& secretValue(S& s, const Secret& secret) {
    switch (secret.field) {
        case Secret::Field::Password:
            return s.server.password;
        case Secret::Field::SmtpPassword:
            return s.server.smtpPassword;
        case Secret::Field::OAuthClientSecret:
            return s.oauthClientSecret;
        case Secret::Field::OAuthRefreshToken:
            break;
    }
    return s.oauthRefreshToken;
}

// Runs a job to its end, or gives up after the timeout (the job then ends on its own).
bool runJob(QKeychain::Job* job) {
    bool ended = false;
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    QTimer::singleShot(CDesktopKeyring::kTimeoutMs, &loop, &QEventLoop::quit);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);  // never a plain file in place of the keyring
    job->start();
    if (!ended)
        loop.exec();
    if (!ended)
        QObject::disconnect(job, &QKeychain::Job::finished, nullptr,
                            nullptr);  // callers' frames end
    return ended;
}

}  // namespace

bool CDesktopKeyring::available() {
    if (!m_available) {
        // a lookup of an entry that is not there: answered by a working keyring, and it
        // never prompts
        auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kService));
        job->setKey(QStringLiteral("probe"));
        QKeychain::Error error = QKeychain::OtherError;
        QObject::connect(job, &QKeychain::Job::finished, [&error, job] { error = job->error(); });
        const bool ended = runJob(job);
        m_available = ended && (error == QKeychain::NoError || error == QKeychain::EntryNotFound);
    }
    return *m_available;
}

std::optional<QString> CDesktopKeyring::read(const QString& key) {
    if (!available())
        return std::nullopt;
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(kService));
    job->setKey(key);
    std::optional<QString> value;
    QObject::connect(job, &QKeychain::Job::finished, [&value, job] {
        if (job->error() == QKeychain::NoError)
            value = job->textData();
    });
    if (!runJob(job))
        return std::nullopt;
    return value;
}

bool CDesktopKeyring::write(const QString& key, const QString& value) {
    if (!available() || m_storeRefused)
        return false;
    auto* job = new QKeychain::WritePasswordJob(QString::fromLatin1(kService));
    job->setKey(key);
    job->setTextData(value);
    bool ok = false;
    QObject::connect(job, &QKeychain::Job::finished,
                     [&ok, job] { ok = job->error() == QKeychain::NoError; });
    ok = runJob(job) && ok;
    m_storeRefused = !ok;
    return ok;
}

bool CDesktopKeyring::remove(const QString& key) {
    if (!available())
        return false;
    auto* job = new QKeychain::DeletePasswordJob(QString::fromLatin1(kService));
    job->setKey(key);
    bool ok = false;
    QObject::connect(job, &QKeychain::Job::finished, [&ok, job] {
        ok = job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
    });
    return runJob(job) && ok;
}

namespace {

class CNoKeyring : public ISecretStore {
public:
    bool available() override { return false; }
    std::optional<QString> read(const QString&) override { return std::nullopt; }
    bool write(const QString&, const QString&) override { return false; }
    bool remove(const QString&) override { return false; }
};

}  // namespace

ISecretStore& processKeyring() {
    static CNoKeyring none;
    static CDesktopKeyring desktop;
    if (qgetenv("POSTWICK_KEYRING") == "off")
        return none;
    return desktop;
}

QString serverListUser(const QString& saved) {
    return saved.isEmpty() ? qEnvironmentVariable("ISC_USER") : saved;
}

QString serverListPassword(const QString& connection, const QString& user) {
    std::optional<QString> saved;
    if (ISecretStore& keyring = processKeyring(); keyring.available())
        saved = keyring.read(serverListPasswordKey(connection, user));
    return saved.value_or(qEnvironmentVariable("ISC_PASSWORD"));
}

bool keepsPasswordsInKeyring(const Settings& s, ISecretStore& keyring) {
    if (s.keyringPasswords == 0)
        return false;
    return keyring.available();
}

void LoadSecrets(Settings& s, ISecretStore& keyring) {
    // Only what a save put into the keyring is looked for there: a file that never met a
    // keyring costs no call to it.
    for (const Secret& secret : kSecrets) {
        QString& value = secretValue(s, secret);
        const bool looked = secret.token ? s.oauthProvider != serversettings::OAuthProvider::None
                                         : s.keyringPasswords == 1;
        if (!value.isEmpty() || !looked)
            continue;
        if (const std::optional<QString> stored = keyring.read(QString::fromLatin1(secret.key)))
            value = *stored;
    }
}

void StoreSecrets(CIniFile& ini, const Settings& s, ISecretStore& keyring) {
    const bool toKeyring = keepsPasswordsInKeyring(s, keyring);
    if (toKeyring && s.keyringPasswords != 1)
        ini.SetInt(kSetup, "KeyringPasswords", 1);  // the keyring is where they are now
    for (const Secret& secret : kSecrets) {
        const QString& value = secretValue(s, secret);
        const QString key = QString::fromLatin1(secret.key);
        const bool keyringWanted =
            secret.token ? s.oauthTokenInFile != 1 && keyring.available() : toKeyring;
        if (keyringWanted) {
            const bool taken = value.isEmpty() ? keyring.remove(key) : keyring.write(key, value);
            if (taken || value.isEmpty()) {
                ini.SetText(kSetup, key, QString());
                continue;
            }
        } else if ((secret.token || s.keyringPasswords == 0) && keyring.available()) {
            (void)keyring.remove(key);  // back in the file: no second copy elsewhere
        }
        // no keyring took it: where WriteSettings put it (a refresh token only if agreed)
    }
}

void StoreSignIn(CIniFile& ini, const Settings& s, ISecretStore& keyring) {
    ini.SetInt(kSetup, "SMTPVerifMethod", storedNumber(s.server.smtpVerifMethod));
    ini.SetInt(kSetup, "OAuthProvider", storedNumber(s.oauthProvider));
    ini.SetText(kSetup, "OAuthClientID", s.oauthClientId);
    ini.SetText(kSetup, "OAuthClientSecret", ScramblePassword(s.oauthClientSecret));
    ini.SetText(kSetup, "OAuthAuthorizeURL", s.oauthAuthorizeUrl);
    ini.SetText(kSetup, "OAuthTokenURL", s.oauthTokenUrl);
    ini.SetText(kSetup, "OAuthScope", s.oauthScope);
    ini.SetText(kSetup, "OAuthAccount", s.oauthAccount);
    ini.SetInt(kSetup, "OAuthTokenInFile", s.oauthTokenInFile);
    ini.SetText(kSetup, "OAuthRefreshToken",
                s.oauthTokenInFile == 1 ? ScramblePassword(s.oauthRefreshToken) : QString());
    StoreSecrets(ini, s, keyring);
}

bool StoreRefreshToken(const QString& token, ISecretStore& keyring) {
    return keyring.write(QStringLiteral("OAuthRefreshToken"), token);
}

TokenPlace tokenPlaceOf(const Settings& s) {
    return {s.oauthTokenInFile == 1 ? TokenPlace::Where::File : TokenPlace::Where::Keyring,
            s.filePath};
}

bool StoreRotatedToken(const QString& token, const TokenPlace& place, ISecretStore& keyring) {
    if (place.where == TokenPlace::Where::Keyring)
        return StoreRefreshToken(token, keyring);
    CIniFile ini(place.settingsPath);
    (void)ini.Load();
    if (ini.loadStatus() != CIniFile::LoadStatus::Loaded)
        return false;
    ini.SetText(kSetup, "OAuthRefreshToken", ScramblePassword(token));
    return ini.Save();
}

}  // namespace pw::app
