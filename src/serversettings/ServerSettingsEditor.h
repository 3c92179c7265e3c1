#pragma once
// What the "Server Settings" and "Advanced SMTP Server Settings" dialogs edit, and their
// commands and checks, without any widget: the dialogs are views over this.

#include <QHash>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

#include "resources/UserInteraction.h"
#include "send/SendLimits.h"
#include "send/SendRules.h"
#include "serversettings/OAuthSignIn.h"
#include "serversettings/ServerProfiles.h"

namespace pw::serversettings {

// Everything the dialog starts from and, after OK, gives back: the standard server with its
// advanced values, the sign-in, and the project's servers, user and password.
struct ServerSettingsValues {
    ServerConfig standard;
    OAuthValues oauth;  // for the OAuth2 method and the automatic choice
    ServerConfig project;
    QList<smtp::TrustedCertificate> trusted;
    // The sending profiles by account (send::accountKey); an account without one goes by
    // its host's preset.
    QHash<QString, send::SendingProfile> sendingProfiles;
};

// The standard server's profile: the stored one, else its host's preset.
[[nodiscard]] send::SendingProfile sendingProfileOf(const ServerSettingsValues& values);
void setSendingProfile(ServerSettingsValues& values, const send::SendingProfile& profile);

// The advanced dialog's controls as the user left them.
struct AdvancedForm {
    enum class Credentials { Neither, SameAsPop, LogOnUsing };
    enum class Field { None, Port, Method, UserName, Password };

    QString portText;
    int connectionIndex = 0;  // combo: "None", "SSL/TLS", "STARTTLS"
    bool acceptUnverified = false;
    bool authRequired = false;
    int methodIndex = -1;  // combo: "Password", "Cram-Md5", "OAuth2"; -1 nothing selected
    Credentials credentials = Credentials::Neither;
    QString userName;
    QString password;
    OAuthValues oauth;  // the sign-in's fields and, once signed in, its state
};

// The combo index of the OAuth2 method.
inline constexpr int kMethodIndexOAuth2 = 2;

// The form for the current values.
[[nodiscard]] AdvancedForm advancedFormFor(const ServerConfig& server, const OAuthValues& oauth);

struct AdvancedCheck {
    int messageId = 0;  // 0: the form is acceptable
    AdvancedForm::Field focus = AdvancedForm::Field::None;
};
// The checks of OK in their order; the first failing one.
[[nodiscard]] AdvancedCheck checkAdvancedForm(const AdvancedForm& form);
// The server with the values OK stores; its POP3 user and password are copied into the SMTP
// credentials for "Use same settings as POP3 server" (now, not when the run starts).
[[nodiscard]] ServerConfig advancedValuesFrom(const AdvancedForm& form, const ServerConfig& server);
// Plain connection with login: the password crosses the network in the clear.
[[nodiscard]] bool sendsPasswordInClear(const AdvancedForm& form);

// A host name the program can look up: not empty, no blanks or control characters.
[[nodiscard]] bool isPlausibleHostName(const QString& host);

// The project's part of a server: its servers, user and password.
[[nodiscard]] ServerConfig serversOf(const ServerConfig& server);

class CServerSettingsEditor {
public:
    CServerSettingsEditor(ServerSettingsValues values, CServerList list, IUserInteraction& ui);

    ServerSettingsValues& values() { return m_values; }
    [[nodiscard]] const ServerSettingsValues& values() const { return m_values; }
    [[nodiscard]] const CServerList& list() const { return m_list; }

    // The commands; false when refused (a message was shown).
    bool addStandardToList();
    bool addProjectToList();
    void useAsStandard(int index);
    void useAsProject(int index);
    void remove(int index);
    void copyUp();
    void copyDown();
    void clearProject();

    // OK: false (with a message) when a server name cannot be right.
    [[nodiscard]] bool checkForOk();

    // The server record of the connection test: the standard fields with the advanced values.
    [[nodiscard]] send::ServerRecord testServer();
    // After a test: the sign-in as the test left it (a provider may have replaced the refresh
    // token, and then only the new one works).
    void keepTestedSignIn();

private:
    bool add(const ServerProfile& profile);
    void refuse(int messageId);

    ServerSettingsValues m_values;
    std::shared_ptr<COAuthTokens> m_testTokens;
    CServerList m_list;
    IUserInteraction& m_ui;
};

}  // namespace pw::serversettings
