#pragma once
// The program's preferences: every "SETUP" key and the "WINDOW" visibility flag, with their
// types and defaults, read once at start and written back once at close.

#include <QDateTime>
#include <QRect>
#include <QSize>
#include <QString>

#include "app/IniFile.h"
#include "compose/CodePage.h"
#include "compose/ServerConfig.h"
#include "db/RecordCache.h"
#include "resources/Strings.h"
#include "send/MailJob.h"
#include "send/SendRules.h"
#include "serversettings/OAuthSignIn.h"
#include "smtp/Charsets.h"
#include "smtp/SSLSocket.h"

namespace pw::app {

inline constexpr char kSetup[] = "SETUP";

// The ranges of the batch size, the batch pause (seconds) and the pause before resending
// (minutes): the preferences offer them, and values read from the file are brought into
// them, so that the send run never sees a batch of 0 or a negative pause.
struct PreferenceRange {
    int minimum;
    int maximum;
    [[nodiscard]] int clamp(int value) const {
        return value < minimum ? minimum : value > maximum ? maximum : value;
    }
};
inline constexpr PreferenceRange kOneTimeSendRange{1, 100};
inline constexpr PreferenceRange kSendWaitRange{0, 300};
inline constexpr PreferenceRange kConnectWaitRange{0, 60};
inline constexpr char kWindow[] = "WINDOW";
inline constexpr char kHistory[] = "HISTORY";

struct Settings {
    bool length = false;  // "Set line length to text window width"
    // The standard server settings: "Name", "From", the server keys and
    // "SMTPAcceptUnverifiedCert".
    ServerConfig server;
    // "SMTPPort" as stored, when it is no port number (1 ... 65535); empty otherwise.
    QString smtpPortText;
    int autoGroupEnabled = 0;
    int autoGroupField = -1;
    int attachmentAllocationField = -1;
    int attachmentAllocationSendIfAttachmentNotSpecified = 0;
    int attachmentAllocationSendIfAttachmentNotFound = 1;
    int attachmentAllocationUseFileExtensions = 0;
    QString attachmentAllocationFolder;
    QString testEmailAddress;
    int defaultRecipientField = 0;
    int openDatabaseAfterImport = 1;
    int encode = 0;  // ReadSettings gives DefaultCharsetRow when the file has none
    // "SendContinue": what a run does when a mail finally fails.
    send::ErrorPolicy sendContinue = send::ErrorPolicy::Continue;
    int logView = 0;
    int wrap = 0;
    int toolbar = 1;
    int ui = 1;
    QString font = QStringLiteral("Courier");
    int fontSize = 12;
    int oneTimeSend = 1;
    int sendWait = 0;
    int connectWait = 0;
    bool startShortcut = true;
    send::AddrSetType addrSetType = send::AddrSetType::AllTo;
    // "JapaneseExtras": characters outside JIS X 0208 in a Japanese charset's mail.
    smtp::JapaneseExtras japaneseExtras = smtp::JapaneseExtras::Utf8;
    // "CheckBeforeSending": the deliverability check before the Transmission dialog (1 on).
    int checkBeforeSending = 1;
    // "ImportDatesIso": 1 writes workbook dates as 2024-03-15, 0 in the system's short form.
    int importDatesIso = 0;
    // "ShareListsOnServer": with a list on a Firebird server, 1 keeps the suppression list and
    // the sending ledger in its database for everybody on it, 0 in the user's own files.
    int shareListsOnServer = 1;
    bool dbExportItem = true;
    int strFieldSize = 100;
    // "RecordLimit": the most records of a database (import, Add Record, the editor's list).
    int recordLimit = db::kDefaultRecordLimit;
    QString defaultDbPath;  // written only by the default-database command
    QString autoBoxText;    // "AutoBoxText" of "HISTORY": the last frame characters of Auto Frame
    // The OAuth 2.0 sign-in ("OAuthProvider").
    serversettings::OAuthProvider oauthProvider = serversettings::OAuthProvider::None;
    QString oauthClientId;
    QString oauthClientSecret;  // a secret: the keyring, or scrambled like a password
    QString oauthAuthorizeUrl;  // custom provider
    QString oauthTokenUrl;
    QString oauthScope;
    QString oauthAccount;
    // Kept in the keyring; in the file only when there is none and the user agreed.
    QString oauthRefreshToken;
    int oauthTokenInFile = 0;
    // In memory only: the access token of this process's sign-in.
    QString oauthAccessToken;
    QDateTime oauthAccessExpiry;
    // "Keep passwords in the desktop keyring": 1 on, 0 off, -1 not chosen (on when a keyring
    // answers).
    int keyringPasswords = -1;
    // Section "CERTIFICATES": written only when the user trusts a certificate.
    QList<smtp::TrustedCertificate> trustedCertificates;

    // The largest file a mail may carry, in MB ("AttachmentSizeLimit"; 1 ... 1024).
    int attachmentSizeLimit = 25;

    bool showFieldWnd = true;  // section "WINDOW"

    // Not stored: the file these settings were read from, and why it could not be read
    // (empty when it was read or is missing).
    QString filePath;
    QString fileFailure;
};
inline constexpr int kAttachmentSizeLimitMaxMb = 1024;

// Reads every key with its default; a missing file or key gives the default.
[[nodiscard]] Settings ReadSettings(const CIniFile& ini);
// "ShareListsOnServer" into effect for the lists this process opens on a server.
void ApplyShareListsChoice(const Settings& s);
// The charset row of a settings file without "Encode": Shift_JIS where the user reads
// Japanese, UTF-8 elsewhere (Shift_JIS would turn every accented letter into "?"). A stored
// value is kept, since the mail texts of the user's project files are in its code page.
[[nodiscard]] int DefaultCharsetRow(Language language);
// The code page of a project's mail texts: the Windows code page of the charset row chosen by
// "Encode".
[[nodiscard]] CodePage MailCodePage(int encode);
// Writes "ShowFieldWnd" and every "SETUP" key but "DefaultDBPath", in their fixed order.
void WriteSettings(CIniFile& ini, const Settings& s);

// Whether the text is a port number: decimal digits only, 1 ... 65535.
[[nodiscard]] bool isPortText(const QString& text);
// The SMTP port of the settings as the user wrote it when it is no port; empty when it is.
[[nodiscard]] QString invalidPortText(const Settings& s);

// Window position entries ("MainForm", "DBForm" in "WINDOW").
struct WindowPlacement {
    QRect rect;           // left, top, width, height
    int showCommand = 1;  // 1 normal, 2 minimised, 3 maximised
};
// The text stored for a placement: "%d,%d,%d,%d,%d".
[[nodiscard]] QString FormatPlacement(const WindowPlacement& p);
// The rectangle to restore from a stored text on a screen of the given size.
[[nodiscard]] QRect RestoreRect(const QString& stored, QSize screen);

}  // namespace pw::app
