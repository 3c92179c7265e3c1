#include "app/SendSettings.h"

#include "app/IniFile.h"
#include "app/Keyring.h"
#include "app/RunRecovery.h"
#include "app/ServerSettingsStore.h"
#include "serversettings/OAuthSignIn.h"

namespace pw::app {

send::ServerRecord standardServerRecord(const Settings& s, RotatedTokenNotice rotated) {
    send::ServerRecord r;
    static_cast<ServerConfig&>(r) = s.server;
    r.trustedCertificates = s.trustedCertificates;
    const serversettings::OAuthValues oauth = OAuthValuesOf(s);
    // Without a sign-in the tokens tell the run so, in words the user can act on.
    if (oauth.signedIn() || s.server.smtpVerifMethod == VerifMethod::OAuth2) {
        // a token the provider rotates is kept for the next run at once, where the old one was
        r.tokens = std::make_shared<serversettings::COAuthTokens>(
            oauth, [where = tokenPlaceOf(s), rotated](const QString& token) {
                const TokenKept kept = StoreRotatedToken(token, where, processKeyring())
                                           ? TokenKept::Stored
                                           : TokenKept::NotStored;
                if (rotated)
                    rotated(token, kept);
            });
    }
    return r;
}

send::SendFlowSettings sendFlowSettingsFrom(const Settings& s, const db::DbFolders& folders,
                                            const QString& previewFolder,
                                            RotatedTokenNotice rotated) {
    send::SendFlowSettings f;
    f.folders = folders;
    f.previewFolder = previewFolder;
    f.standardServer = standardServerRecord(s, std::move(rotated));
    f.pacing = {s.oneTimeSend, s.sendWait, s.connectWait, s.sendContinue};
    f.charsetRow = s.encode;
    f.textCodePage = MailCodePage(s.encode);
    f.addrSetType = s.addrSetType;
    f.japaneseExtras = s.japaneseExtras;
    f.testEmailAddress = s.testEmailAddress;
    f.strFieldSize = s.strFieldSize;
    f.settingsFile = s.filePath;
    f.settingsFailure = s.fileFailure;
    f.badPortText = invalidPortText(s);
    f.attachmentSizeLimit = qint64(s.attachmentSizeLimit) * 1024 * 1024;
    // a dry run writes into none of them: the log, the working copies and the previews are there
    QString temp = previewFolder;
    if (temp.endsWith(QLatin1Char('/')))
        temp.chop(1);
    temp = temp.left(temp.lastIndexOf(QLatin1Char('/')) + 1);
    f.ownFolders = {folders.userDataFolder, folders.workingCopyFolder, temp};
    if (!s.filePath.isEmpty()) {
        CIniFile ini(s.filePath);
        if (ini.Load())
            f.sendingProfiles = readSendingProfiles(ini);
    }
    return f;
}

QHash<QString, send::SendingProfile> readSendingProfiles(const CIniFile& ini) {
    QHash<QString, send::SendingProfile> profiles;
    for (const QString& key : ini.KeyNames(QString::fromLatin1(kSendLimits))) {
        bool ok = false;
        const send::SendingProfile p = send::parseSendingProfile(
            ini.GetText(QString::fromLatin1(kSendLimits), key, QString()), &ok);
        if (ok)
            profiles.insert(key.toLower(), p);
    }
    return profiles;
}

void writeSendingProfile(CIniFile& ini, const QString& account,
                         const send::SendingProfile& profile) {
    (void)ini.SetText(QString::fromLatin1(kSendLimits), account.toLower(),
                      send::formatSendingProfile(profile));
}

}  // namespace pw::app
