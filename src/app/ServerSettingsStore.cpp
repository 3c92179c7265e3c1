#include "app/ServerSettingsStore.h"

#include "serversettings/CertificateTrust.h"

namespace pw::app {

using serversettings::CServerList;

CServerList LoadServerList(const CIniFile& ini) {
    const int count = ini.GetInt(kServers, "No", 0);
    QStringList lines;
    for (int i = 0; i < count && i < CServerList::kMaxStored; ++i)
        lines << ini.GetText(kServers, QString::number(i), QString());
    return CServerList::fromLines(lines);
}

void StoreServerList(CIniFile& ini, const CServerList& list) {
    const int previous = ini.GetInt(kServers, "No", 0);
    for (int i = 0; i < previous && i < 100000; ++i)
        ini.RemoveKey(kServers, QString::number(i));
    ini.SetInt(kServers, "No", list.size());
    const QStringList lines = list.toLines();
    for (qsizetype i = 0; i < lines.size(); ++i)
        ini.SetText(kServers, QString::number(i), lines[i]);
}

QList<smtp::TrustedCertificate> ReadTrustedCertificates(const CIniFile& ini) {
    QList<smtp::TrustedCertificate> list;
    for (const QString& key : ini.KeyNames(serversettings::kCertificatesSection)) {
        const auto t = serversettings::parseTrust(
            key, ini.GetText(serversettings::kCertificatesSection, key, QString()));
        if (t)
            serversettings::trustCertificate(list, *t);
    }
    return list;
}

bool StoreTrustedCertificate(const QString& settingsPath, const smtp::TrustedCertificate& t) {
    CIniFile ini(settingsPath);
    (void)ini.Load();
    const QString key = serversettings::trustKey(t.host, t.port);
    // an older spelling of the same key would otherwise be found first
    ini.RemoveKey(serversettings::kCertificatesSection, key);
    ini.SetText(serversettings::kCertificatesSection, key, serversettings::trustValue(t));
    return ini.Save();
}

serversettings::ServerSettingsValues ServerValuesOf(const Settings& s, const ServerConfig& p) {
    serversettings::ServerSettingsValues v;
    v.standard = s.server;
    v.oauth = OAuthValuesOf(s);
    v.project = serversettings::serversOf(p);
    v.trusted = s.trustedCertificates;
    return v;
}

serversettings::OAuthValues OAuthValuesOf(const Settings& s) {
    serversettings::OAuthValues o;
    o.provider = s.oauthProvider;
    o.clientId = s.oauthClientId;
    o.clientSecret = s.oauthClientSecret;
    o.authorizeUrl = s.oauthAuthorizeUrl;
    o.tokenUrl = s.oauthTokenUrl;
    o.scope = s.oauthScope;
    o.account = s.oauthAccount;
    o.refreshToken = s.oauthRefreshToken;
    o.accessToken = s.oauthAccessToken;
    o.accessExpiry = s.oauthAccessExpiry;
    return o;
}

void ApplyOAuthValues(const serversettings::OAuthValues& o, Settings& s) {
    s.oauthProvider = o.provider;
    s.oauthClientId = o.clientId;
    s.oauthClientSecret = o.clientSecret;
    s.oauthAuthorizeUrl = o.authorizeUrl;
    s.oauthTokenUrl = o.tokenUrl;
    s.oauthScope = o.scope;
    s.oauthAccount = o.account;
    s.oauthRefreshToken = o.refreshToken;
    s.oauthAccessToken = o.accessToken;
    s.oauthAccessExpiry = o.accessExpiry;
}

void ApplyServerValues(const serversettings::ServerSettingsValues& v, Settings& s,
                       ServerConfig& p) {
    s.server = v.standard;
    s.trustedCertificates = v.trusted;
    ApplyOAuthValues(v.oauth, s);
    p = serversettings::serversOf(v.project);
}

}  // namespace pw::app
