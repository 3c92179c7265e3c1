#pragma once
// The command set of the main window: every command with its number, its menu place, its
// accelerator and its toolbar button. The window builds its menus, toolbar and actions from
// this table; the numbers are what other windows and the settings use to name a command.

#include <QString>
#include <span>

namespace pw::app {

namespace cmd {
inline constexpr int kNew = 32771;
inline constexpr int kOpen = 32772;
inline constexpr int kSave = 32774;
inline constexpr int kSaveAs = 32812;
inline constexpr int kExportMail = 32775;
inline constexpr int kSend = 32776;
inline constexpr int kPreview = 32777;
inline constexpr int kOpenLogFile = 32890;
inline constexpr int kSelectTemplate = 32834;
inline constexpr int kSaveAsTemplate = 32780;
inline constexpr int kSelectHtmlTemplate = 32781;
inline constexpr int kEditHtmlTemplate = 32782;
inline constexpr int kDeleteHtmlTemplate = 32848;
inline constexpr int kAddAttachment = 32886;
inline constexpr int kDeleteFile = 32865;
inline constexpr int kPageSetting = 32830;
inline constexpr int kPrint = 32831;
inline constexpr int kExit = 32846;
inline constexpr int kUndo = 32788;
inline constexpr int kCut = 32789;
inline constexpr int kCopy = 32790;
inline constexpr int kPaste = 32791;
inline constexpr int kDelete = 32792;
inline constexpr int kSelectAll = 32829;
inline constexpr int kDefaultDatabase = 32832;
inline constexpr int kEditDatabase = 32808;
inline constexpr int kImportDatabase = 32809;
inline constexpr int kExportDatabase = 32810;
inline constexpr int kClearDatabase = 32811;
inline constexpr int kAutoLine = 32794;
inline constexpr int kAutoFrame = 32835;
inline constexpr int kCountCharacters = 32796;
inline constexpr int kCheckKatakana = 32867;
inline constexpr int kAutoWrap = 32845;
inline constexpr int kEditFieldName = 32797;
inline constexpr int kCharacterEncoding = 32889;
inline constexpr int kDisplayFieldWindow = 32833;
inline constexpr int kServerSettings = 32802;
inline constexpr int kUserPreferences = 32859;
inline constexpr int kManual = 32804;
inline constexpr int kAbout = 32807;
// The user's suppression list and the project's unsubscribe settings.
inline constexpr int kSuppressionList = 32952;
inline constexpr int kUnsubscribeSettings = 32953;
// What came back from the mailbox: bounces, complaints, replies.
inline constexpr int kBounces = 32954;
// Every run recorded: campaigns, their recipients, charts.
inline constexpr int kHistory = 32955;
inline constexpr int kOpenServerDatabase = 32956;
// One item per charset row: kCharsetFirst + row.
inline constexpr int kCharsetFirst = 32900;
// the UTF-8 row, appended after the 23 of the product, is 32923
inline constexpr int kCharsetLast = 32923;
}  // namespace cmd

enum class MenuPopup { File, Edit, Database, Tools, Option, Help, ToolbarOnly };

// Who carries a command out: the main window itself, or a window built elsewhere that
// connects to it (until then the command stays disabled).
enum class CommandOwner { MainWindow, Elsewhere };

struct CommandInfo {
    int id;
    MenuPopup menu;
    int textId;            // menu text (string table)
    const char* keys;      // portable key sequence text ("Ctrl+H"), or nullptr
    int toolbar;           // 1-based toolbar position, 0 for none
    int tooltipId;         // string of the toolbar tooltip, 0 for none
    bool separatorBefore;  // in its menu
    CommandOwner owner;
};

// Every command in menu order (the charset items are built from the charset table).
[[nodiscard]] std::span<const CommandInfo> commandTable();
// nullptr for an unknown number.
[[nodiscard]] const CommandInfo* findCommand(int id);

// The toolbar: 15 buttons in their order with four separators between the groups (file,
// mail, database, text tools, settings), 19 positions in all. 0 marks a separator.
[[nodiscard]] std::span<const int> toolbarLayout();

}  // namespace pw::app
