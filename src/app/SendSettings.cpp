#include "app/SendSettings.h"

#include "app/RunRecovery.h"

namespace pw::app {

send::ServerRecord standardServerRecord(const Settings& s) {
    send::ServerRecord r;
    r.smtpServer = s.smtpServer;
    r.popServer = s.popServer;
    r.userId = s.userId;
    r.password = s.password;
    r.authType = s.authType;
    r.smtpPort = s.smtpPort;
    r.smtpVerifMethod = s.smtpVerifMethod;
    r.smtpAuthType = s.smtpAuthType;
    r.smtpUserName = s.smtpUserName;
    r.smtpPassword = s.smtpPassword;
    r.smtpConnectionType = s.smtpConnectionType;
    r.acceptUnverifiedCertificate = s.smtpAcceptUnverifiedCert != 0;
    r.trustedCertificates = s.trustedCertificates;
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
