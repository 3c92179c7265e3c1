#include "serversettings/ServerSettingsEditor.h"

#include "resources/Strings.h"

namespace pw::serversettings {

namespace {
// The combo of the methods: "Password", "Cram-Md5", "OAuth2"; -1 the automatic choice.
int methodIndexOf(VerifMethod method) {
    switch (method) {
        case VerifMethod::Login:
            return 0;
        case VerifMethod::CramMd5:
            return 1;
        case VerifMethod::OAuth2:
            return kMethodIndexOAuth2;
        case VerifMethod::Automatic:
            break;
    }
    return -1;
}
VerifMethod methodOfIndex(int index) {
    switch (index) {
        case 0:
            return VerifMethod::Login;
        case 1:
            return VerifMethod::CramMd5;
        case kMethodIndexOAuth2:
            return VerifMethod::OAuth2;
        default:
            return VerifMethod::Automatic;
    }
}
}  // namespace

AdvancedForm advancedFormFor(const ServerConfig& v, const OAuthValues& oauth) {
    AdvancedForm f;
    f.portText = QString::number(v.smtpPort);
    f.connectionIndex = storedNumber(v.smtpConnectionType);  // the combo's order
    f.acceptUnverified = v.acceptUnverifiedCertificate;
    f.authRequired = v.signsIn();
    f.methodIndex = methodIndexOf(v.smtpVerifMethod);
    f.oauth = oauth;
    f.credentials = v.smtpAuthType == SmtpAuthType::SameAsPop ? AdvancedForm::Credentials::SameAsPop
                    : v.smtpAuthType == SmtpAuthType::LogOnUsing
                        ? AdvancedForm::Credentials::LogOnUsing
                        : AdvancedForm::Credentials::Neither;
    if (v.smtpAuthType == SmtpAuthType::LogOnUsing) {
        f.userName = v.smtpUserName;
        f.password = v.smtpPassword;
    }
    return f;
}

AdvancedCheck checkAdvancedForm(const AdvancedForm& f) {
    bool ok = false;
    const int port = f.portText.trimmed().toInt(&ok);
    // A port is 1 ... 65535; anything else could never be connected to.
    if (!ok || port <= 0 || port > 65535)
        return {ids::kAdvPortIncorrect, AdvancedForm::Field::Port};
    if (f.authRequired) {
        if (f.methodIndex < 0)
            return {ids::kAdvNeedMethod, AdvancedForm::Field::Method};
        if (f.methodIndex == kMethodIndexOAuth2) {
            // the token takes the password's place; the account still needs its name
            if (f.credentials == AdvancedForm::Credentials::LogOnUsing && f.userName.isEmpty())
                return {ids::kOAuthNeedUser, AdvancedForm::Field::UserName};
            if (!f.oauth.signedIn())
                return {ids::kOAuthNeedSignIn, AdvancedForm::Field::Method};
            return {};
        }
        if (f.credentials == AdvancedForm::Credentials::LogOnUsing) {
            if (f.userName.isEmpty())
                return {ids::kAdvNeedUser, AdvancedForm::Field::UserName};
            if (f.password.isEmpty())
                return {ids::kAdvNeedPassword, AdvancedForm::Field::Password};
        }
    }
    return {};
}

ServerConfig advancedValuesFrom(const AdvancedForm& f, const ServerConfig& server) {
    ServerConfig v = server;
    v.smtpPort = f.portText.trimmed().toInt();
    readStored(f.connectionIndex, v.smtpConnectionType);
    v.acceptUnverifiedCertificate = f.acceptUnverified;
    v.smtpAuthType = SmtpAuthType::None;
    if (f.authRequired && f.credentials == AdvancedForm::Credentials::SameAsPop)
        v.smtpAuthType = SmtpAuthType::SameAsPop;
    else if (f.authRequired && f.credentials == AdvancedForm::Credentials::LogOnUsing)
        v.smtpAuthType = SmtpAuthType::LogOnUsing;
    v.smtpUserName.clear();
    v.smtpPassword.clear();
    if (v.smtpAuthType == SmtpAuthType::SameAsPop) {
        v.smtpUserName = server.userId;
        v.smtpPassword = server.password;
    } else if (v.smtpAuthType == SmtpAuthType::LogOnUsing) {
        v.smtpUserName = f.userName;
        v.smtpPassword = f.password;
    }
    v.smtpVerifMethod = methodOfIndex(f.methodIndex);
    return v;
}

bool sendsPasswordInClear(const AdvancedForm& f) {
    return f.authRequired && f.connectionIndex == 0;
}

bool isPlausibleHostName(const QString& host) {
    if (host.isEmpty())
        return false;
    for (const QChar c : host) {
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

ServerConfig serversOf(const ServerConfig& server) {
    ServerConfig p;
    p.smtpServer = server.smtpServer;
    p.popServer = server.popServer;
    p.userId = server.userId;
    p.password = server.password;
    return p;
}

CServerSettingsEditor::CServerSettingsEditor(ServerSettingsValues values, CServerList list,
                                             IUserInteraction& ui)
    : m_values(std::move(values)), m_list(std::move(list)), m_ui(ui) {}

void CServerSettingsEditor::refuse(int messageId) {
    (void)m_ui.message(str(ids::kSsCaption), str(messageId), MessageKind::Information);
}

bool CServerSettingsEditor::add(const ServerProfile& p) {
    if (p.from.isEmpty() || p.name.isEmpty() || p.smtpServer.isEmpty() || p.popServer.isEmpty() ||
        p.userId.isEmpty()) {
        refuse(ids::kSsNoInformation);
        return false;
    }
    if (m_list.add(p) == CServerList::AddResult::Full) {
        refuse(ids::kSsMaxServers);
        return false;
    }
    return true;
}

bool CServerSettingsEditor::addStandardToList() {
    return add(m_values.standard);
}

bool CServerSettingsEditor::addProjectToList() {
    ServerConfig p = m_values.standard;
    p.smtpServer = m_values.project.smtpServer;
    p.popServer = m_values.project.popServer;
    p.userId = m_values.project.userId;
    p.password = m_values.project.password;
    return add(p);
}

void CServerSettingsEditor::useAsStandard(int index) {
    if (index < 0 || index >= m_list.size())
        return;
    // what a profile does not keep stays as it was
    ServerConfig& s = m_values.standard;
    const int authType = s.authType;
    const bool acceptUnverified = s.acceptUnverifiedCertificate;
    s = m_list.at(index);
    s.authType = authType;
    s.acceptUnverifiedCertificate = acceptUnverified;
}

void CServerSettingsEditor::useAsProject(int index) {
    if (index < 0 || index >= m_list.size())
        return;
    m_values.project = serversOf(m_list.at(index));
}

void CServerSettingsEditor::remove(int index) {
    m_list.remove(index);
}

void CServerSettingsEditor::copyUp() {
    ServerConfig& s = m_values.standard;
    const ServerConfig& p = m_values.project;
    s.smtpServer = p.smtpServer;
    s.popServer = p.popServer;
    s.userId = p.userId;
    s.password = p.password;
}

void CServerSettingsEditor::copyDown() {
    m_values.project = serversOf(m_values.standard);
}

void CServerSettingsEditor::clearProject() {
    m_values.project = {};
}

bool CServerSettingsEditor::checkForOk() {
    const QString& standard = m_values.standard.smtpServer;
    const QString& project = m_values.project.smtpServer;
    if ((!standard.isEmpty() && !isPlausibleHostName(standard)) ||
        (!project.isEmpty() && !isPlausibleHostName(project))) {
        refuse(ids::kSsHostIncorrect);
        return false;
    }
    return true;
}

send::ServerRecord CServerSettingsEditor::testServer() {
    send::ServerRecord r;
    static_cast<ServerConfig&>(r) = m_values.standard;
    r.smtpServer = r.smtpServer.trimmed();
    r.trustedCertificates = m_values.trusted;
    m_testTokens.reset();
    if (m_values.oauth.signedIn())
        r.tokens = m_testTokens = std::make_shared<COAuthTokens>(m_values.oauth);
    return r;
}

void CServerSettingsEditor::keepTestedSignIn() {
    if (!m_testTokens)
        return;
    const OAuthValues now = m_testTokens->current();
    m_values.oauth.refreshToken = now.refreshToken;
    m_values.oauth.accessToken = now.accessToken;
    m_values.oauth.accessExpiry = now.accessExpiry;
}

send::SendingProfile sendingProfileOf(const ServerSettingsValues& values) {
    const ServerConfig& s = values.standard;
    return values.sendingProfiles.value(send::accountKey(s.smtpServer, s.smtpUserName),
                                        send::presetProfile(send::presetForHost(s.smtpServer)));
}

void setSendingProfile(ServerSettingsValues& values, const send::SendingProfile& profile) {
    const ServerConfig& s = values.standard;
    values.sendingProfiles.insert(send::accountKey(s.smtpServer, s.smtpUserName), profile);
}

}  // namespace pw::serversettings
