#pragma once
// What a send run takes from the settings, in one place for both front ends (the window and
// the command line), so that neither can leave out a setting the other honours.

#include "app/Settings.h"
#include "send/SendFlow.h"

namespace pw::app {

// The standard server record: every server key of "SETUP" and the trusted certificates.
[[nodiscard]] send::ServerRecord standardServerRecord(const Settings& s);

// The flow's settings from the settings file's values; the folders are the caller's.
[[nodiscard]] send::SendFlowSettings sendFlowSettingsFrom(const Settings& s,
                                                          const db::DbFolders& folders,
                                                          const QString& previewFolder);

}  // namespace pw::app
