#pragma once
// Where the windows of the other parts of the program give the main window's commands their
// effect. Each part keeps its own function in its own file here, so that none of them edits
// the main window to hook in:
//
//   void wireDatabaseCommands(CPZPtestDlg& w) {            // WireDatabase.cpp
//       w.setCommandHandler(cmd::kEditDatabase, [&w] { ... });
//   }
//
// setCommandHandler enables the command; until then it stays disabled. The window's public
// document functions (TakeFromWindow, ShowInWindow, SetModified, UpdateDocumentState,
// ShowHtmlMail, InsertIntoLastFocusedField, UpdateWrapItem) are what those windows call
// after they changed something.

#include <QString>
#include <array>

#include "db/RecordCache.h"

namespace pw::app {

class CPZPtestDlg;

// Edit DataBase, Edit Field Name, Display Field Window (the database editor and field window).
void wireDatabaseCommands(CPZPtestDlg& window);
// Import DataBase, Export DataBase, Export Mail.
void wireExchangeCommands(CPZPtestDlg& window);
// Select/Edit HTML Template, Preview, Select Template, Save As Template, Auto Line, Auto
// Frame, Count Characters, Check Katakana, Auto-Wrap.
void wireComposeCommands(CPZPtestDlg& window);
// Server Settings, User Preferences (and the Getting Started dialog's commands).
void wireSettingsCommands(CPZPtestDlg& window);

// Suppression List, Bounces and Replies, Unsubscribe Settings.
void wireSuppressionCommands(CPZPtestDlg& window);
// Open Database on Server.
void wireServerListCommands(CPZPtestDlg& window);
// The File menu's recent projects and server lists.
void wireRecentList(CPZPtestDlg& window);
// The server dialog, filled in with a list opened before (or the one open now when the
// connection is empty); the list is opened on OK.
void openServerList(CPZPtestDlg& window, const QString& connection, const QString& user);

// After the field captions changed from `before`: offers to write the mail's placeholders
// with the new ones and shows the document again when they were (WireDatabase.cpp).
void OfferPlaceholderRewrite(CPZPtestDlg& window,
                             const std::array<QString, db::kFieldCount>& before);

// All of the above, in this order; called once when the window is made.
void wireOtherCommands(CPZPtestDlg& window);

}  // namespace pw::app
