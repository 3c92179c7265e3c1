#pragma once
// "Advanced SMTP Server Settings": port, encrypted connection, certificate acceptance and
// authentication, with the checks of OK. A view over AdvancedForm.

#include <QDialog>
#include <QSpinBox>
#include <memory>

#include "resources/UserInteraction.h"
#include "serversettings/ServerSettingsEditor.h"

namespace Ui {
class d_AdvSettings;
}

namespace pw::serversettings {

class d_AdvSettings : public QDialog {
    Q_OBJECT
public:
    // The server's POP3 credentials are what "Use same settings as POP3 server" copies.
    d_AdvSettings(const ServerConfig& server, const OAuthValues& oauth, IUserInteraction& ui,
                  QWidget* parent = nullptr, const send::SendingProfile& sending = {});
    ~d_AdvSettings() override;

    // The server and sign-in with the values OK stored (the initial ones until then).
    [[nodiscard]] const ServerConfig& values() const { return m_values; }
    [[nodiscard]] const OAuthValues& oauth() const { return m_oauth; }
    [[nodiscard]] AdvancedForm form() const;
    // The sending limits as the controls show them.
    [[nodiscard]] send::SendingProfile sendingProfile() const;

    void accept() override;

    // "Sign in..." and "Sign out".
    void signInNow();
    void signOut();

private:
    void updateEnabled();
    void providerChosen(int index);
    void showSendingProfile(const send::SendingProfile& profile);

    std::unique_ptr<Ui::d_AdvSettings> m_form;
    ServerConfig m_values;
    OAuthValues m_oauth;
    IUserInteraction& m_ui;
    // The sign-in's state (tokens, account) as the buttons left it.
    OAuthValues m_signIn;
};

}  // namespace pw::serversettings
