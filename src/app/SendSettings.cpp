#include "app/SendSettings.h"

#include "app/Keyring.h"
#include "app/RunRecovery.h"
#include "app/ServerSettingsStore.h"
#include "serversettings/OAuthSignIn.h"

namespace pw::app {

send::ServerRecord standardServerRecord(const Settings& s) {
    send::ServerRecord r;
    static_cast<ServerConfig&>(r) = s.server;
    r.trustedCertificates = s.trustedCertificates;
    const serversettings::OAuthValues oauth = OAuthValuesOf(s);
    if (oauth.signedIn()) {
        // a token the provider rotates is kept in the keyring for the next run at once
        r.tokens = std::make_shared<serversettings::COAuthTokens>(
            oauth,
            [](const QString& rotated) { (void)StoreRefreshToken(rotated, processKeyring()); });
    }
    return r;
}

send::SendFlowSettings sendFlowSettingsFrom(const Settings& s, const db::DbFolders& folders,
                                            const QString& previewFolder) {
    send::SendFlowSettings f;
    f.folders = folders;
    f.previewFolder = previewFolder;
    f.standardServer = standardServerRecord(s);
    f.pacing = {s.oneTimeSend, s.sendWait, s.connectWait, s.sendContinue};
    f.charsetRow = s.encode;
    f.textCodePage = MailCodePage(s.encode);
    f.addrSetType = send::addrSetTypeFromSetting(s.addrSetType);
    f.japaneseExtras = s.japaneseExtras == 1   ? smtp::JapaneseExtras::WindowsCodes
                       : s.japaneseExtras == 2 ? smtp::JapaneseExtras::Replace
                                               : smtp::JapaneseExtras::Utf8;
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
    return f;
}

}  // namespace pw::app
