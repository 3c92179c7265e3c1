#include "app/Commands.h"

#include <algorithm>

#include "resources/Strings.h"

namespace pw::app {
namespace {

using enum MenuPopup;
constexpr CommandOwner Here = CommandOwner::MainWindow;
constexpr CommandOwner Other = CommandOwner::Elsewhere;

// clang-format off
constexpr CommandInfo kCommands[] = {
    {cmd::kNew,                 File,     ids::kCmdNew,                 "Ctrl+N", 1,  ids::kTipNew,                 false, Here},
    {cmd::kOpen,                File,     ids::kCmdOpen,                "Ctrl+O", 2,  ids::kTipOpen,                false, Here},
    {cmd::kSave,                File,     ids::kCmdSave,                "Ctrl+S", 3,  ids::kTipSave,                false, Here},
    {cmd::kSaveAs,              File,     ids::kCmdSaveAs,              nullptr,  0,  0,                            false, Here},
    {cmd::kExportMail,          File,     ids::kCmdExportMail,          nullptr,  0,  0,                            true,  Other},
    {cmd::kSend,                File,     ids::kCmdSend,                nullptr,  5,  ids::kTipSend,                true,  Here},
    {cmd::kPreview,             File,     ids::kCmdPreview,             nullptr,  6,  ids::kTipPreview,             false, Other},
    {cmd::kOpenLogFile,         File,     ids::kCmdOpenLogFile,         nullptr,  0,  0,                            false, Here},
    {cmd::kSelectTemplate,      File,     ids::kCmdSelectTemplate,      nullptr,  0,  0,                            true,  Other},
    {cmd::kSaveAsTemplate,      File,     ids::kCmdSaveAsTemplate,      nullptr,  0,  0,                            false, Other},
    {cmd::kSelectHtmlTemplate,  File,     ids::kCmdSelectHtmlTemplate,  "Ctrl+H", 4,  ids::kTipSelectHtmlTemplate,  true,  Other},
    {cmd::kEditHtmlTemplate,    File,     ids::kCmdEditHtmlTemplate,    nullptr,  0,  0,                            false, Other},
    {cmd::kDeleteHtmlTemplate,  File,     ids::kCmdDeleteHtmlTemplate,  nullptr,  0,  0,                            false, Here},
    {cmd::kAddAttachment,       File,     ids::kCmdAddAttachment,       nullptr,  0,  0,                            true,  Here},
    {cmd::kDeleteFile,          File,     ids::kCmdDeleteFile,          nullptr,  0,  0,                            false, Here},
    {cmd::kPageSetting,         File,     ids::kMainCmdPageSetting,         nullptr,  0,  0,                            true,  Here},
    {cmd::kPrint,               File,     ids::kMainCmdPrint,               "Ctrl+P", 0,  0,                            false, Here},
    {cmd::kExit,                File,     ids::kMenuExit,               "Alt+F4", 0,  0,                            true,  Here},
    {cmd::kUndo,                Edit,     ids::kCmdUndo,                "Ctrl+Z", 0,  0,                            false, Here},
    {cmd::kCut,                 Edit,     ids::kCmdCut,                 "Ctrl+X", 0,  0,                            true,  Here},
    {cmd::kCopy,                Edit,     ids::kCmdCopy,                "Ctrl+C", 0,  0,                            false, Here},
    {cmd::kPaste,               Edit,     ids::kCmdPaste,               "Ctrl+V", 0,  0,                            false, Here},
    {cmd::kDelete,              Edit,     ids::kCmdDelete,              nullptr,  0,  0,                            false, Here},
    {cmd::kSelectAll,           Edit,     ids::kMainCmdSelectAll,           "Ctrl+A", 0,  0,                            true,  Here},
    {cmd::kDefaultDatabase,     Database, ids::kCmdDefaultDatabase,     nullptr,  0,  0,                            false, Here},
    {cmd::kOpenServerDatabase,  Database, ids::kCmdOpenServerDatabase,  nullptr,  0,  0,                            false, Other},
    {cmd::kEditDatabase,        Database, ids::kCmdEditDatabase,        nullptr,  7,  ids::kTipEditDatabase,        true,  Other},
    {cmd::kImportDatabase,      Database, ids::kCmdImportDatabase,      nullptr,  8,  ids::kTipImportDataFile,      false, Other},
    {cmd::kExportDatabase,      Database, ids::kCmdExportDatabase,      nullptr,  9,  ids::kTipExportDatabase,      false, Other},
    {cmd::kClearDatabase,       Database, ids::kCmdClearDatabase,       nullptr,  0,  0,                            true,  Here},
    {cmd::kSuppressionList,     Database, ids::kCmdSuppressionList,     nullptr,  0,  0,                            true,  Other},
    {cmd::kBounces,             Database, ids::kCmdBounces,             nullptr,  0,  0,                            false, Other},
    {cmd::kHistory,             Database, ids::kCmdHistory,             nullptr,  0,  0,                            false, Other},
    {cmd::kAutoLine,            ToolbarOnly, ids::kCmdAutoLine,         nullptr,  10, ids::kTipAutoLine,            false, Other},
    {cmd::kAutoFrame,           ToolbarOnly, ids::kCmdAutoFrame,        nullptr,  11, ids::kTipAutoFrame,           false, Other},
    {cmd::kCountCharacters,     Tools,    ids::kCmdCountCharacters,     nullptr,  12, ids::kTipCharacterCount,      false, Other},
    {cmd::kCheckKatakana,       Tools,    ids::kCmdCheckKatakana,       nullptr,  0,  0,                            false, Other},
    {cmd::kAutoWrap,            Tools,    ids::kCmdAutoWrap,            nullptr,  0,  0,                            false, Other},
    {cmd::kEditFieldName,       Option,   ids::kCmdEditFieldName,       nullptr,  13, ids::kTipEditFieldName,       false, Other},
    {cmd::kCharacterEncoding,   Option,   ids::kCmdCharacterEncoding,   nullptr,  0,  0,                            false, Here},
    {cmd::kDisplayFieldWindow,  Option,   ids::kCmdDisplayFieldWindow,  nullptr,  0,  0,                            false, Other},
    {cmd::kServerSettings,      Option,   ids::kCmdServerSettings,      nullptr,  14, ids::kTipServerSettings,      true,  Other},
    {cmd::kUserPreferences,     Option,   ids::kCmdUserPreferences,     nullptr,  15, ids::kTipPreferences,         false, Other},
    {cmd::kUnsubscribeSettings, Option,   ids::kCmdUnsubscribeSettings, nullptr,  0,  0,                            false, Other},
    {cmd::kManual,              Help,     ids::kCmdManual,              "F1",     0,  0,                            false, Here},
    {cmd::kAbout,               Help,     ids::kCmdAbout,               nullptr,  0,  0,                            true,  Here},
};
// clang-format on

constexpr int kToolbar[] = {
    cmd::kNew,
    cmd::kOpen,
    cmd::kSave,
    cmd::kSelectHtmlTemplate,
    0,
    cmd::kSend,
    cmd::kPreview,
    0,
    cmd::kEditDatabase,
    cmd::kImportDatabase,
    cmd::kExportDatabase,
    0,
    cmd::kAutoLine,
    cmd::kAutoFrame,
    cmd::kCountCharacters,
    0,
    cmd::kEditFieldName,
    cmd::kServerSettings,
    cmd::kUserPreferences,
};

}  // namespace

std::span<const CommandInfo> commandTable() {
    return kCommands;
}

const CommandInfo* findCommand(int id) {
    const auto it = std::find_if(std::begin(kCommands), std::end(kCommands),
                                 [id](const CommandInfo& c) { return c.id == id; });
    return it == std::end(kCommands) ? nullptr : &*it;
}

std::span<const int> toolbarLayout() {
    return kToolbar;
}

}  // namespace pw::app
