#pragma once
// What a sending account allows: how many mails a minute, an hour and in any 24 hours, and how
// many connections at once. Providers refuse past these figures, and an account that keeps
// sending past them is locked for a day, so a run paces itself by them, and a reply that says
// the account is over a limit stops the run for a while instead of failing its recipients.

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace pw::send {

enum class ProfilePreset {
    NoLimits,  // only the batches and pauses of the settings, as always
    Microsoft365,
    Gmail,
    GoogleWorkspace,
    Yahoo,
    JapaneseHosting,
    Relay,
    Custom,  // figures the user set
};

struct SendingProfile {
    ProfilePreset preset = ProfilePreset::NoLimits;
    // 0: no limit of that kind
    int perMinute = 0;
    int perHour = 0;
    int perDay = 0;  // recipients in any 24 hours
    int connections = 1;

    [[nodiscard]] bool limitsNothing() const {
        return perMinute <= 0 && perHour <= 0 && perDay <= 0;
    }
    friend bool operator==(const SendingProfile&, const SendingProfile&) = default;
};

[[nodiscard]] SendingProfile presetProfile(ProfilePreset preset);
// The preset a server's host name belongs to; NoLimits for a host nobody knows.
[[nodiscard]] ProfilePreset presetForHost(const QString& host);
// The preset's name as the settings show it.
[[nodiscard]] QString presetName(ProfilePreset preset);

// As the settings file keeps it: "preset,perMinute,perHour,perDay,connections". A text that
// is not one reads as nullopt-like NoLimits with `ok` false.
[[nodiscard]] QString formatSendingProfile(const SendingProfile& profile);
[[nodiscard]] SendingProfile parseSendingProfile(const QString& text, bool* ok = nullptr);
// The key a server's profile and ledger go by: the signed-in user at the host, lower case.
[[nodiscard]] QString accountKey(const QString& host, const QString& userName);

// Where an SMTP reply came.
// Connect: the greeting, EHLO or HELO; Auth: the sign-in.
enum class SmtpStage { Connect, MailFrom, Rcpt, Data, EndOfData, Other, Auth };

// What a refusal says about the account.
enum class LimitReply {
    None,  // about this mail or recipient, or nothing known
    Rate,  // too much too fast: it passes within minutes
    Day,   // the day's quota is used up
};

// Reads the code, the enhanced status code and the text of a refusal together: a mailbox
// that is full or unknown (at RCPT) is that recipient's, a quota or a rate is the account's.
[[nodiscard]] LimitReply classifyRefusal(SmtpStage stage, int code, const QString& text);

// "30 a minute, 10,000 a day": the figures the profile sets.
[[nodiscard]] QString limitsText(const SendingProfile& profile);
// "12,000 recipients, 30 a minute, 10,000 a day: about 6 h 40 min over 2 days", from the
// profile and what the account already sent in the last 24 hours.
[[nodiscard]] QString sendEstimateText(int recipients, const SendingProfile& profile,
                                       int usedToday = 0);
// The seconds a run of `recipients` takes at the profile's pace (the day's waits included)
// and the number of days it touches.
struct SendEstimate {
    qint64 seconds = 0;
    int days = 1;
};
[[nodiscard]] SendEstimate estimateSending(int recipients, const SendingProfile& profile,
                                           int usedToday = 0);
// "6 h 40 min", "3 min", "45 s" (the current language).
[[nodiscard]] QString durationText(qint64 seconds);

}  // namespace pw::send
