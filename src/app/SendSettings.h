#pragma once
// What a send run takes from the settings, in one place for both front ends (the window and
// the command line), so that neither can leave out a setting the other honours.

#include <functional>

#include "app/Settings.h"
#include "send/SendFlow.h"

namespace pw::app {

// Told, on the run's thread, the refresh token the provider gave in place of the old one, and
// whether it could be stored where the old one was (the window keeps its settings up to date
// with it, which its save writes; the command line tells a token it could not keep).
enum class TokenKept { Stored, NotStored };
using RotatedTokenNotice = std::function<void(const QString&, TokenKept)>;

// The standard server record: every server key of "SETUP", the trusted certificates and,
// for the OAuth2 method or a sign-in, its tokens (without a sign-in they say so).
[[nodiscard]] send::ServerRecord standardServerRecord(const Settings& s,
                                                      RotatedTokenNotice rotated = {});

// The flow's settings from the settings file's values; the folders are the caller's.
[[nodiscard]] send::SendFlowSettings sendFlowSettingsFrom(const Settings& s,
                                                          const db::DbFolders& folders,
                                                          const QString& previewFolder,
                                                          RotatedTokenNotice rotated = {});

// Section "SENDLIMITS": one key per sending account (send::accountKey), its profile as
// send::formatSendingProfile writes it. Older files have no such section: every account then
// takes its host's preset. A line that is not a profile is left out.
inline constexpr char kSendLimits[] = "SENDLIMITS";
[[nodiscard]] QHash<QString, send::SendingProfile> readSendingProfiles(const CIniFile& ini);
void writeSendingProfile(CIniFile& ini, const QString& account,
                         const send::SendingProfile& profile);

}  // namespace pw::app
