#include "serversettings/gui/d_AdvSettings.h"
#include <algorithm>

#include <QPushButton>

#include "resources/Strings.h"
#include "ui_d_AdvSettings.h"

namespace pw::serversettings {

namespace {
// The provider box lists the providers in their own order.
OAuthProvider providerAt(int index) {
    return static_cast<OAuthProvider>(std::clamp(index, 0, int(OAuthProvider::Custom)));
}
void label(QWidget* w, int id) {
    w->setAccessibleName(str(id));
}
}  // namespace

d_AdvSettings::d_AdvSettings(const ServerConfig& server, const OAuthValues& oauth,
                             IUserInteraction& ui, QWidget* parent,
                             const send::SendingProfile& sending)
    : QDialog(parent),
      m_form(std::make_unique<Ui::d_AdvSettings>()),
      m_values(server),
      m_oauth(oauth),
      m_ui(ui) {
    Ui::d_AdvSettings& f = *m_form;
    f.setupUi(this);
    setWindowTitle(str(ids::kAdvCaption));
    f.portLabel->setText(str(ids::kAdvPort));
    label(f.portEdit, ids::kAdvPort);
    f.connectionTypeLabel->setText(str(ids::kAdvConnectionType));
    label(f.connectionTypeCombo, ids::kAdvConnectionType);
    f.connectionTypeCombo->addItems(
        {str(ids::kAdvTypeNone), str(ids::kAdvTypeSsl), str(ids::kAdvTypeStartTls)});
    f.acceptUnverifiedCheck->setText(str(ids::kAdvAcceptUnverified));
    label(f.acceptUnverifiedCheck, ids::kAdvAcceptUnverified);
    f.unverifiedWarning->setText(str(ids::kAdvUnverifiedWarning));
    f.unverifiedWarning->setAccessibleName(str(ids::kAdvWarning));
    f.authRequiredCheck->setText(str(ids::kAdvAuthRequired));
    label(f.authRequiredCheck, ids::kAdvAuthRequired);
    f.methodLabel->setText(str(ids::kAdvMethod));
    label(f.methodCombo, ids::kAdvMethod);
    f.methodCombo->addItems({str(ids::kAdvMethodPassword), str(ids::kAdvMethodCram)});
    f.sameAsPopRadio->setText(str(ids::kAdvSameAsPop));
    label(f.sameAsPopRadio, ids::kAdvSameAsPop);
    f.logOnUsingRadio->setText(str(ids::kAdvLogOnUsing));
    label(f.logOnUsingRadio, ids::kAdvLogOnUsing);
    f.userNameLabel->setText(str(ids::kAdvUserName));
    label(f.userNameEdit, ids::kAdvUserName);
    f.passwordLabel->setText(str(ids::kAdvPassword));
    label(f.passwordEdit, ids::kAdvPassword);
    f.clearTextWarning->setText(str(ids::kAdvClearTextWarning));
    f.clearTextWarning->setAccessibleName(str(ids::kAdvWarning));
    f.methodCombo->addItem(str(ids::kAdvMethodOAuth2));
    f.oauthGroup->setTitle(str(ids::kOAuthGroup));
    label(f.oauthGroup, ids::kOAuthGroup);
    const auto field = [](QLabel* l, QWidget* w, int id) {
        l->setText(str(id));
        w->setAccessibleName(str(id));
    };
    field(f.oauthProviderLabel, f.oauthProviderCombo, ids::kOAuthProvider);
    field(f.oauthClientIdLabel, f.oauthClientIdEdit, ids::kOAuthClientId);
    field(f.oauthClientSecretLabel, f.oauthClientSecretEdit, ids::kOAuthClientSecret);
    field(f.oauthAuthorizeUrlLabel, f.oauthAuthorizeUrlEdit, ids::kOAuthAuthorizeUrl);
    field(f.oauthTokenUrlLabel, f.oauthTokenUrlEdit, ids::kOAuthTokenUrl);
    field(f.oauthScopeLabel, f.oauthScopeEdit, ids::kOAuthScope);
    f.oauthProviderCombo->addItems({str(ids::kOAuthProviderNone), str(ids::kOAuthProviderMicrosoft),
                                    str(ids::kOAuthProviderGoogle),
                                    str(ids::kOAuthProviderCustom)});
    f.signInButton->setText(str(ids::kOAuthSignIn));
    label(f.signInButton, ids::kOAuthSignIn);
    f.signOutButton->setText(str(ids::kOAuthSignOut));
    label(f.signOutButton, ids::kOAuthSignOut);
    f.buttonBox->button(QDialogButtonBox::Ok)->setText(str(ids::kSsOk));
    f.buttonBox->button(QDialogButtonBox::Cancel)->setText(str(ids::kSsCancel));

    const AdvancedForm form = advancedFormFor(server, oauth);
    f.portEdit->setText(form.portText);
    f.connectionTypeCombo->setCurrentIndex(form.connectionIndex);
    f.acceptUnverifiedCheck->setChecked(form.acceptUnverified);
    f.authRequiredCheck->setChecked(form.authRequired);
    f.methodCombo->setCurrentIndex(form.methodIndex);
    f.sameAsPopRadio->setChecked(form.credentials == AdvancedForm::Credentials::SameAsPop);
    f.logOnUsingRadio->setChecked(form.credentials == AdvancedForm::Credentials::LogOnUsing);
    f.userNameEdit->setText(form.userName);
    f.passwordEdit->setText(form.password);
    const OAuthValues& o = form.oauth;
    m_signIn = o;
    f.oauthProviderCombo->setCurrentIndex(static_cast<int>(o.provider));
    f.oauthClientIdEdit->setText(o.clientId);
    f.oauthClientSecretEdit->setText(o.clientSecret);
    f.oauthAuthorizeUrlEdit->setText(o.effectiveAuthorizeUrl());
    f.oauthTokenUrlEdit->setText(o.effectiveTokenUrl());
    f.oauthScopeEdit->setText(o.effectiveScope());

    connect(f.buttonBox, &QDialogButtonBox::accepted, this, &d_AdvSettings::accept);
    connect(f.buttonBox, &QDialogButtonBox::rejected, this, &d_AdvSettings::reject);
    connect(f.authRequiredCheck, &QCheckBox::toggled, this, &d_AdvSettings::updateEnabled);
    connect(f.logOnUsingRadio, &QRadioButton::toggled, this, &d_AdvSettings::updateEnabled);
    connect(f.acceptUnverifiedCheck, &QCheckBox::toggled, this, &d_AdvSettings::updateEnabled);
    connect(f.connectionTypeCombo, &QComboBox::currentIndexChanged, this,
            &d_AdvSettings::updateEnabled);
    connect(f.oauthProviderCombo, &QComboBox::activated, this, &d_AdvSettings::providerChosen);
    connect(f.signInButton, &QPushButton::clicked, this, &d_AdvSettings::signInNow);
    connect(f.signOutButton, &QPushButton::clicked, this, &d_AdvSettings::signOut);

    f.limitsGroup->setTitle(str(ids::kLimitsGroup));
    label(f.limitsGroup, ids::kLimitsGroup);
    field(f.limitsPresetLabel, f.limitsPresetCombo, ids::kLimitsPreset);
    field(f.perMinuteLabel, f.perMinuteSpin, ids::kLimitsPerMinute);
    field(f.perHourLabel, f.perHourSpin, ids::kLimitsPerHour);
    field(f.perDayLabel, f.perDaySpin, ids::kLimitsPerDay);
    field(f.connectionsLabel, f.connectionsSpin, ids::kLimitsConnections);
    for (int p = 0; p <= int(send::ProfilePreset::Custom); ++p)
        f.limitsPresetCombo->addItem(send::presetName(send::ProfilePreset(p)));
    showSendingProfile(sending);
    // a preset fills the figures; a figure changed by hand makes the profile the user's own
    connect(f.limitsPresetCombo, &QComboBox::activated, this, [this](int index) {
        if (index != int(send::ProfilePreset::Custom))
            showSendingProfile(send::presetProfile(send::ProfilePreset(index)));
    });
    for (QSpinBox* spin : {f.perMinuteSpin, f.perHourSpin, f.perDaySpin, f.connectionsSpin})
        connect(spin, &QSpinBox::valueChanged, this, [this] {
            const send::SendingProfile shown = sendingProfile();
            if (!(shown == send::presetProfile(shown.preset)))
                m_form->limitsPresetCombo->setCurrentIndex(int(send::ProfilePreset::Custom));
        });
    updateEnabled();
}

void d_AdvSettings::showSendingProfile(const send::SendingProfile& profile) {
    Ui::d_AdvSettings& f = *m_form;
    const QSignalBlocker blockers[] = {QSignalBlocker(f.perMinuteSpin),
                                       QSignalBlocker(f.perHourSpin), QSignalBlocker(f.perDaySpin),
                                       QSignalBlocker(f.connectionsSpin)};
    f.limitsPresetCombo->setCurrentIndex(int(profile.preset));
    f.perMinuteSpin->setValue(profile.perMinute);
    f.perHourSpin->setValue(profile.perHour);
    f.perDaySpin->setValue(profile.perDay);
    f.connectionsSpin->setValue(profile.connections);
}

send::SendingProfile d_AdvSettings::sendingProfile() const {
    const Ui::d_AdvSettings& f = *m_form;
    send::SendingProfile p;
    p.preset = send::ProfilePreset(f.limitsPresetCombo->currentIndex());
    p.perMinute = f.perMinuteSpin->value();
    p.perHour = f.perHourSpin->value();
    p.perDay = f.perDaySpin->value();
    p.connections = f.connectionsSpin->value();
    return p;
}

d_AdvSettings::~d_AdvSettings() = default;

AdvancedForm d_AdvSettings::form() const {
    const Ui::d_AdvSettings& f = *m_form;
    AdvancedForm form;
    form.portText = f.portEdit->text();
    form.connectionIndex = f.connectionTypeCombo->currentIndex();
    form.acceptUnverified = f.acceptUnverifiedCheck->isChecked();
    form.authRequired = f.authRequiredCheck->isChecked();
    form.methodIndex = f.methodCombo->currentIndex();
    form.credentials = f.sameAsPopRadio->isChecked()    ? AdvancedForm::Credentials::SameAsPop
                       : f.logOnUsingRadio->isChecked() ? AdvancedForm::Credentials::LogOnUsing
                                                        : AdvancedForm::Credentials::Neither;
    form.userName = f.userNameEdit->text();
    form.password = f.passwordEdit->text();
    form.oauth = m_signIn;
    OAuthValues& o = form.oauth;
    o.provider = providerAt(f.oauthProviderCombo->currentIndex());
    o.clientId = f.oauthClientIdEdit->text().trimmed();
    o.clientSecret = f.oauthClientSecretEdit->text();
    // the presets' endpoints are shown, not stored
    const bool custom = o.provider == OAuthProvider::Custom;
    o.authorizeUrl = custom ? f.oauthAuthorizeUrlEdit->text().trimmed() : QString();
    o.tokenUrl = custom ? f.oauthTokenUrlEdit->text().trimmed() : QString();
    o.scope = custom ? f.oauthScopeEdit->text().trimmed() : QString();
    return form;
}

void d_AdvSettings::providerChosen(int index) {
    Ui::d_AdvSettings& f = *m_form;
    const OAuthProvider provider = providerAt(index);
    // another provider's or client's sign-in is not this one's
    if (provider != m_signIn.provider)
        signOut();
    if (provider == OAuthProvider::Custom) {
        f.oauthAuthorizeUrlEdit->setText(m_signIn.authorizeUrl);
        f.oauthTokenUrlEdit->setText(m_signIn.tokenUrl);
        f.oauthScopeEdit->setText(m_signIn.scope);
    } else {
        const OAuthPreset preset = oauthPreset(provider);
        f.oauthAuthorizeUrlEdit->setText(preset.authorizeUrl);
        f.oauthTokenUrlEdit->setText(preset.tokenUrl);
        f.oauthScopeEdit->setText(preset.scope);
        if (preset.smtpPort > 0) {
            f.portEdit->setText(QString::number(preset.smtpPort));
            f.connectionTypeCombo->setCurrentIndex(storedNumber(preset.smtpConnectionType));
        }
    }
    m_signIn.provider = provider;
    updateEnabled();
}

void d_AdvSettings::signInNow() {
    Ui::d_AdvSettings& f = *m_form;
    const SignInResult r = signIn(form().oauth, m_ui);
    if (r.status != SignInResult::Status::SignedIn)
        return;
    m_signIn = form().oauth;
    m_signIn.refreshToken = r.refreshToken;
    m_signIn.accessToken = r.accessToken;
    m_signIn.accessExpiry = r.accessExpiry;
    m_signIn.account = r.account.isEmpty() ? f.userNameEdit->text() : r.account;
    // the sign-in is what this account authenticates with from now on
    f.authRequiredCheck->setChecked(true);
    f.methodCombo->setCurrentIndex(kMethodIndexOAuth2);
    if (!f.sameAsPopRadio->isChecked())
        f.logOnUsingRadio->setChecked(true);
    if (f.userNameEdit->text().isEmpty())
        f.userNameEdit->setText(r.account);
    updateEnabled();
}

void d_AdvSettings::signOut() {
    m_signIn.refreshToken.clear();
    m_signIn.accessToken.clear();
    m_signIn.accessExpiry = {};
    m_signIn.account.clear();
    updateEnabled();
}

void d_AdvSettings::updateEnabled() {
    Ui::d_AdvSettings& f = *m_form;
    const AdvancedForm current = form();
    f.authGroup->setEnabled(current.authRequired);
    const bool own = current.credentials == AdvancedForm::Credentials::LogOnUsing;
    f.userNameEdit->setEnabled(own);
    f.passwordEdit->setEnabled(own);
    f.unverifiedWarning->setVisible(current.acceptUnverified);
    f.clearTextWarning->setVisible(sendsPasswordInClear(current));
    const bool custom = current.oauth.provider == OAuthProvider::Custom;
    f.oauthAuthorizeUrlEdit->setReadOnly(!custom);
    f.oauthTokenUrlEdit->setReadOnly(!custom);
    f.oauthScopeEdit->setReadOnly(!custom);
    f.signInButton->setEnabled(current.oauth.provider != OAuthProvider::None);
    f.signOutButton->setEnabled(current.oauth.signedIn());
    f.oauthAccountLabel->setTextFormat(Qt::PlainText);  // the name is the provider's words
    f.oauthAccountLabel->setText(!current.oauth.signedIn() ? str(ids::kOAuthNotSignedInLabel)
                                 : current.oauth.account.isEmpty()
                                     ? str(ids::kOAuthSignedInNoName)
                                     : str(ids::kOAuthSignedInAs).arg(current.oauth.account));
    // a reader hears what the label says, in the language shown
    f.oauthAccountLabel->setAccessibleName(f.oauthAccountLabel->text());
}

void d_AdvSettings::accept() {
    const AdvancedForm current = form();
    const AdvancedCheck check = checkAdvancedForm(current);
    if (check.messageId != 0) {
        (void)m_ui.message(str(ids::kAdvCaption), str(check.messageId), MessageKind::Information);
        Ui::d_AdvSettings& f = *m_form;
        switch (check.focus) {
            case AdvancedForm::Field::Port:
                f.portEdit->setFocus();
                f.portEdit->selectAll();
                break;
            case AdvancedForm::Field::Method:
                f.methodCombo->setFocus();
                break;
            case AdvancedForm::Field::UserName:
                f.userNameEdit->setFocus();
                break;
            case AdvancedForm::Field::Password:
                f.passwordEdit->setFocus();
                break;
            case AdvancedForm::Field::None:
                break;
        }
        return;
    }
    m_values = advancedValuesFrom(current, m_values);
    m_oauth = current.oauth;
    QDialog::accept();
}

}  // namespace pw::serversettings
