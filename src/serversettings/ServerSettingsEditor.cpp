#include "serversettings/ServerSettingsEditor.h"

#include "resources/Strings.h"

namespace pw::serversettings {

AdvancedForm advancedFormFor(const AdvancedValues& v) {
    AdvancedForm f;
    f.portText = QString::number(v.smtpPort);
    f.connectionIndex =
        v.smtpConnectionType >= 0 && v.smtpConnectionType <= 2 ? v.smtpConnectionType : 0;
    f.acceptUnverified = v.acceptUnverifiedCertificate;
    f.authRequired = v.smtpAuthType != 0;
    f.methodIndex = v.smtpVerifMethod == 0 || v.smtpVerifMethod == 1 ? v.smtpVerifMethod
                    : v.smtpVerifMethod == send::kVerifMethodOAuth2  ? kMethodIndexOAuth2
                                                                     : -1;
    f.oauth = v.oauth;
    f.credentials = v.smtpAuthType == 4   ? AdvancedForm::Credentials::SameAsPop
                    : v.smtpAuthType == 5 ? AdvancedForm::Credentials::LogOnUsing
                                          : AdvancedForm::Credentials::Neither;
    if (v.smtpAuthType == 5) {
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

AdvancedValues advancedValuesFrom(const AdvancedForm& f, const StandardFields& standard) {
    AdvancedValues v;
    v.smtpPort = f.portText.trimmed().toInt();
    v.smtpConnectionType = f.connectionIndex == 1 || f.connectionIndex == 2 ? f.connectionIndex : 0;
    v.acceptUnverifiedCertificate = f.acceptUnverified;
    if (!f.authRequired) {
        v.smtpAuthType = 0;
    } else if (f.credentials == AdvancedForm::Credentials::SameAsPop) {
        v.smtpAuthType = 4;
    } else if (f.credentials == AdvancedForm::Credentials::LogOnUsing) {
        v.smtpAuthType = 5;
    }
    if (v.smtpAuthType == 4) {
        v.smtpUserName = standard.userId;
        v.smtpPassword = standard.password;
    } else if (v.smtpAuthType == 5) {
        v.smtpUserName = f.userName;
        v.smtpPassword = f.password;
    }
    v.smtpVerifMethod =
        f.methodIndex == kMethodIndexOAuth2 ? send::kVerifMethodOAuth2 : f.methodIndex;
    v.oauth = f.oauth;
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

namespace {
ServerProfile profileOf(const StandardFields& s, const AdvancedValues& a) {
    ServerProfile p;
    p.from = s.from;
    p.name = s.name;
    p.smtpServer = s.smtpServer;
    p.popServer = s.popServer;
    p.userId = s.userId;
    p.password = s.password;
    p.smtpPort = a.smtpPort;
    p.smtpVerifMethod = a.smtpVerifMethod;
    p.smtpAuthType = a.smtpAuthType;
    p.smtpUserName = a.smtpUserName;
    p.smtpPassword = a.smtpPassword;
    p.smtpConnectionType = a.smtpConnectionType;
    return p;
}
}  // namespace

bool CServerSettingsEditor::addStandardToList() {
    return add(profileOf(m_values.standard, m_values.advanced));
}

bool CServerSettingsEditor::addProjectToList() {
    StandardFields s = m_values.standard;
    s.smtpServer = m_values.project.smtpServer;
    s.popServer = m_values.project.popServer;
    s.userId = m_values.project.userId;
    s.password = m_values.project.password;
    return add(profileOf(s, m_values.advanced));
}

void CServerSettingsEditor::useAsStandard(int index) {
    if (index < 0 || index >= m_list.size())
        return;
    const ServerProfile& p = m_list.at(index);
    m_values.standard = {p.from, p.name, p.smtpServer, p.popServer, p.userId, p.password};
    AdvancedValues& a = m_values.advanced;
    a.smtpPort = p.smtpPort;
    a.smtpVerifMethod = p.smtpVerifMethod;
    a.smtpAuthType = p.smtpAuthType;
    a.smtpUserName = p.smtpUserName;
    a.smtpPassword = p.smtpPassword;
    a.smtpConnectionType = p.smtpConnectionType;
}

void CServerSettingsEditor::useAsProject(int index) {
    if (index < 0 || index >= m_list.size())
        return;
    const ServerProfile& p = m_list.at(index);
    m_values.project = {p.smtpServer, p.popServer, p.userId, p.password};
}

void CServerSettingsEditor::remove(int index) {
    m_list.remove(index);
}

void CServerSettingsEditor::copyUp() {
    StandardFields& s = m_values.standard;
    const ProjectFields& p = m_values.project;
    s.smtpServer = p.smtpServer;
    s.popServer = p.popServer;
    s.userId = p.userId;
    s.password = p.password;
}

void CServerSettingsEditor::copyDown() {
    const StandardFields& s = m_values.standard;
    m_values.project = {s.smtpServer, s.popServer, s.userId, s.password};
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

send::ServerRecord CServerSettingsEditor::testServer() const {
    send::ServerRecord r;
    const StandardFields& s = m_values.standard;
    const AdvancedValues& a = m_values.advanced;
    r.smtpServer = s.smtpServer.trimmed();
    r.popServer = s.popServer;
    r.userId = s.userId;
    r.password = s.password;
    r.authType = m_values.authType;
    r.smtpPort = a.smtpPort;
    r.smtpVerifMethod = a.smtpVerifMethod;
    r.smtpAuthType = a.smtpAuthType;
    r.smtpUserName = a.smtpUserName;
    r.smtpPassword = a.smtpPassword;
    r.smtpConnectionType = a.smtpConnectionType;
    r.acceptUnverifiedCertificate = a.acceptUnverifiedCertificate;
    r.trustedCertificates = m_values.trusted;
    if (a.oauth.signedIn())
        r.tokens = std::make_shared<COAuthTokens>(a.oauth);
    return r;
}

}  // namespace pw::serversettings
