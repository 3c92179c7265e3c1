#include "app/Settings.h"

#include "app/ServerSettingsStore.h"

#include <QStringList>

#include <algorithm>
#include <climits>
#include "db/RecordCache.h"
#include "db/SharedLists.h"
#include "resources/Strings.h"
#include "smtp/Charsets.h"

namespace pw {
namespace {

// The stored numbers of the choices only the settings file keeps; a number the program never
// writes reads as the first choice.
void readStored(int stored, send::AddrSetType& out) {
    out = stored == 1   ? send::AddrSetType::RestCc
          : stored == 2 ? send::AddrSetType::RestBcc
                        : send::AddrSetType::AllTo;
}
// Values the preferences cannot produce count as Continue, which never retries a mail more
// than once.
void readStored(int stored, send::ErrorPolicy& out) {
    out = stored == 3   ? send::ErrorPolicy::Ask
          : stored == 4 ? send::ErrorPolicy::Terminate
                        : send::ErrorPolicy::Continue;
}
void readStored(int stored, smtp::JapaneseExtras& out) {
    out = stored == 1   ? smtp::JapaneseExtras::WindowsCodes
          : stored == 2 ? smtp::JapaneseExtras::Replace
                        : smtp::JapaneseExtras::Utf8;
}
void readStored(int stored, serversettings::OAuthProvider& out) {
    using serversettings::OAuthProvider;
    out = stored == 1   ? OAuthProvider::Microsoft365
          : stored == 2 ? OAuthProvider::Google
          : stored == 3 ? OAuthProvider::Custom
                        : OAuthProvider::None;
}

}  // namespace
}  // namespace pw

namespace pw::app {

namespace {

// Every key in the order the close sequence writes it; one list keeps reading and writing
// in step.
template <typename Visitor>
void visitSetupKeys(Settings& s, Visitor&& v) {
    v.boolean("length", s.length, false);
    ServerConfig& server = s.server;
    v.text("Name", server.name, "");
    v.text("From", server.from, "");
    v.text("SMTPServer", server.smtpServer, "");
    v.text("POPServer", server.popServer, "");
    v.text("UserID", server.userId, "");
    v.password("Password", server.password);
    v.integer("AuthType", server.authType, 1);
    v.integer("SMTPPort", server.smtpPort, 25);
    v.choice("SMTPVerifMethod", server.smtpVerifMethod, VerifMethod::Login);
    v.choice("SMTPAuthType", server.smtpAuthType, SmtpAuthType::None);
    v.text("SMTPUserName", server.smtpUserName, "");
    v.password("SMTPPassword", server.smtpPassword);
    v.choice("SMTPConnectionType", server.smtpConnectionType, smtp::ConnectionType::None);
    v.integer("AutoGroupEnabled", s.autoGroupEnabled, 0);
    v.integer("AutoGroupField", s.autoGroupField, -1);
    v.writeOnlyZero("AttachmentAllocationEnabled");
    v.integer("AttachmentAllocationField", s.attachmentAllocationField, -1);
    v.integer("AttachmentAllocationSendIfAttachmentNotSpecified",
              s.attachmentAllocationSendIfAttachmentNotSpecified, 0);
    v.integer("AttachmentAllocationSendIfAttachmentNotFound",
              s.attachmentAllocationSendIfAttachmentNotFound, 1);
    v.integer("AttachmentAllocationUseFileExtensions", s.attachmentAllocationUseFileExtensions, 0);
    v.text("AttachmentAllocationFolder", s.attachmentAllocationFolder, "");
    v.text("TestEmailAddress", s.testEmailAddress, "");
    v.integer("DefaultRecipientField", s.defaultRecipientField, 0);
    v.integer("OpenDatabaseAfterImport", s.openDatabaseAfterImport, 1);
    v.integer("Encode", s.encode, DefaultCharsetRow(currentLanguage()));
    v.choice("SendContinue", s.sendContinue, send::ErrorPolicy::Continue);
    v.integer("LogView", s.logView, 0);
    v.integer("Wrap", s.wrap, 0);
    v.integer("Toolbar", s.toolbar, 1);
    v.integer("UI", s.ui, 1);
    v.text("Font", s.font, "Courier");
    v.fontSize("FontSize", s.fontSize);
    v.integer("OneTimeSend", s.oneTimeSend, 1);
    v.integer("SendWait", s.sendWait, 0);
    v.integer("ConnectWait", s.connectWait, 0);
    v.boolean("StartShortcut", s.startShortcut, true);
    v.choice("AddrSetType", s.addrSetType, send::AddrSetType::AllTo);
    v.choice("JapaneseExtras", s.japaneseExtras, smtp::JapaneseExtras::Utf8);
    v.integer("ImportDatesIso", s.importDatesIso, 0);
    v.integer("ShareListsOnServer", s.shareListsOnServer, 1);
    v.boolean("DBExportItem", s.dbExportItem, true);
    v.integer("StrFieldSize", s.strFieldSize, 100);
    v.boolean("SMTPAcceptUnverifiedCert", server.acceptUnverifiedCertificate, false);
    v.integer("AttachmentSizeLimit", s.attachmentSizeLimit, 25);
    v.integer("CheckBeforeSending", s.checkBeforeSending, 1);
    v.choice("OAuthProvider", s.oauthProvider, serversettings::OAuthProvider::None);
    v.text("OAuthClientID", s.oauthClientId, "");
    v.password("OAuthClientSecret", s.oauthClientSecret);
    v.text("OAuthAuthorizeURL", s.oauthAuthorizeUrl, "");
    v.text("OAuthTokenURL", s.oauthTokenUrl, "");
    v.text("OAuthScope", s.oauthScope, "");
    v.text("OAuthAccount", s.oauthAccount, "");
    v.integer("OAuthTokenInFile", s.oauthTokenInFile, 0);
    v.refreshToken("OAuthRefreshToken", s.oauthRefreshToken, s.oauthTokenInFile);
    v.integer("KeyringPasswords", s.keyringPasswords, -1);
    v.integer("RecordLimit", s.recordLimit, db::kDefaultRecordLimit);
}

struct Reader {
    const CIniFile& ini;
    void text(const char* key, QString& out, const char* def) {
        out = ini.GetText(kSetup, key, QString::fromUtf8(def));
    }
    void password(const char* key, QString& out) {
        out = UnscramblePassword(ini.GetText(kSetup, key, QString()));
    }
    void integer(const char* key, int& out, int def) { out = ini.GetInt(kSetup, key, def); }
    void boolean(const char* key, bool& out, bool def) { out = ini.GetBool(kSetup, key, def); }
    template <typename Enum>
    void choice(const char* key, Enum& out, Enum def) {
        readStored(ini.GetInt(kSetup, key, storedNumber(def)), out);
    }
    void fontSize(const char* key, int& out) {
        // the default comes from the text "12"; a size of 0 would give an invisible font
        const int def = atoiLike("12");
        out = ini.GetInt(kSetup, key, def == 0 ? 8 : def);
    }
    void writeOnlyZero(const char*) {}
    void refreshToken(const char* key, QString& out, int) { password(key, out); }
};

struct Writer {
    CIniFile& ini;
    void text(const char* key, QString& v, const char*) { ini.SetText(kSetup, key, v); }
    void password(const char* key, QString& v) { ini.SetText(kSetup, key, ScramblePassword(v)); }
    void integer(const char* key, int& v, int) { ini.SetInt(kSetup, key, v); }
    void boolean(const char* key, bool& v, bool) { ini.SetBool(kSetup, key, v); }
    template <typename Enum>
    void choice(const char* key, Enum& v, Enum) {
        ini.SetInt(kSetup, key, storedNumber(v));
    }
    void fontSize(const char* key, int& v) { ini.SetInt(kSetup, key, v); }
    void writeOnlyZero(const char* key) { ini.SetInt(kSetup, key, 0); }
    // only where the user agreed to keep it in the file; the keyring is StoreSecrets'
    void refreshToken(const char* key, QString& v, int inFile) {
        ini.SetText(kSetup, key, inFile == 1 ? ScramblePassword(v) : QString());
    }
};

// A decimal integer with leading blanks and nothing else; false when it is anything else or
// does not fit.
bool parseStrictInt(const QString& field, int& out) {
    QString t = field;
    qsizetype i = 0;
    while (i < t.size() && t[i] == ' ')
        ++i;
    t = t.mid(i);
    if (t.isEmpty())
        return false;
    bool ok = false;
    const long long v = t.toLongLong(&ok, 10);
    if (!ok || v < INT_MIN || v > INT_MAX)
        return false;
    // toLongLong accepts a leading '+'; so did the C runtime, which is what the file relied on
    out = static_cast<int>(v);
    return true;
}

QString unquote(QString f) {
    if (f.startsWith('"'))
        f.remove(0, 1);
    if (f.endsWith('"'))
        f.chop(1);
    return f;
}

}  // namespace

CodePage MailCodePage(int encode) {
    // The row's Windows code page, not its MIME name: a Shift_JIS project sent under
    // ISO-2022-JP has the same texts, and ISO-8859-2 rows hold Windows-1250 bytes.
    const smtp::CharsetRow& row = smtp::charsetRow(encode);
    if (const char* name = smtp::codePageConverterName(row.windowsCodePage)) {
        if (std::optional<CodePage> cp = CodePage::fromName(QByteArray(name)))
            return *cp;
    }
    return CodePage::utf8();
}

int DefaultCharsetRow(Language language) {
    return language == Language::Japanese ? 0 : smtp::utf8CharsetRow();
}

void ApplyShareListsChoice(const Settings& s) {
    db::SetShareOnServer(s.shareListsOnServer != 0 ? db::ShareOnServer::On
                                                   : db::ShareOnServer::Off);
}

Settings ReadSettings(const CIniFile& ini) {
    Settings s;
    visitSetupKeys(s, Reader{ini});
    // A hand-edited or typed value beyond what the preferences offer would pause a run for
    // days (SendWait 100000) or never send (OneTimeSend 0): bring it into range.
    s.oneTimeSend = kOneTimeSendRange.clamp(s.oneTimeSend);
    s.sendWait = kSendWaitRange.clamp(s.sendWait);
    s.connectWait = kConnectWaitRange.clamp(s.connectWait);
    s.attachmentSizeLimit = std::clamp(s.attachmentSizeLimit, 1, kAttachmentSizeLimitMaxMb);
    s.filePath = ini.path();
    if (ini.loadStatus() == CIniFile::LoadStatus::Unreadable)
        s.fileFailure = ini.loadFailure();
    s.showFieldWnd = ini.GetBool(kWindow, "ShowFieldWnd", true);
    s.trustedCertificates = ReadTrustedCertificates(ini);
    s.autoBoxText = ini.GetText(kHistory, "AutoBoxText", QString());
    // "25x" or 99999999999 is read as some number, and a run would go to a port nobody chose:
    // the text is kept so that a run can refuse it by name.
    const QString port = ini.GetText(kSetup, "SMTPPort", QStringLiteral("25"));
    if (!isPortText(port))
        s.smtpPortText = port;
    return s;
}

bool isPortText(const QString& stored) {
    const QString text = stored.trimmed();
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int v = text.toInt();
    return v >= 1 && v <= 65535;
}

QString invalidPortText(const Settings& s) {
    // the port is the one read from the text, not one chosen since in the preferences
    const int port = s.server.smtpPort;
    if (!s.smtpPortText.isEmpty() && port == atoiLike(s.smtpPortText.toUtf8()))
        return s.smtpPortText;
    if (port < 1 || port > 65535)
        return QString::number(port);
    return {};
}

void WriteSettings(CIniFile& ini, const Settings& settings) {
    Settings s = settings;
    ini.SetBool(kWindow, "ShowFieldWnd", s.showFieldWnd);
    // the section appears once Auto Frame has been used
    if (!s.autoBoxText.isEmpty() ||
        ini.GetText(kHistory, "AutoBoxText", QStringLiteral("\x01")) != QStringLiteral("\x01"))
        ini.SetText(kHistory, "AutoBoxText", s.autoBoxText);
    visitSetupKeys(s, Writer{ini});
    // a port text that is no port goes back as the user wrote it, not as what it read as
    if (!s.smtpPortText.isEmpty() && s.server.smtpPort == atoiLike(s.smtpPortText.toUtf8()))
        ini.SetText(kSetup, "SMTPPort", s.smtpPortText);
}

QString FormatPlacement(const WindowPlacement& p) {
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(p.rect.left())
        .arg(p.rect.top())
        .arg(p.rect.width())
        .arg(p.rect.height())
        .arg(p.showCommand);
}

QRect RestoreRect(const QString& stored, QSize screen) {
    const QRect centred((screen.width() - 800) / 2, (screen.height() - 600) / 2, 800, 600);
    int v[5] = {-10000, -10000, 0, 0, 1};
    const QStringList fields = stored.split(',');
    if (fields.size() >= 5) {
        for (int i = 0; i < 5; ++i) {
            int parsed = 0;
            if (parseStrictInt(unquote(fields[i]), parsed))
                v[i] = parsed;
        }
    }
    const int left = v[0], top = v[1], width = v[2], height = v[3], show = v[4];
    if (left == -10000 && top == -10000)
        return centred;
    if (show == 3 || (width < 10 && height < 10))
        return centred;
    if (left < -width || left > screen.width() || top < -height || top > screen.height())
        return centred;
    return QRect(left, top, width, height);
}

}  // namespace pw::app
