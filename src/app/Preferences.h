#pragma once
// The decisions of the "User Preferences" and Getting Started dialogs that need no widget:
// the mapping of list indexes and radio groups to settings, the ranges of the Mail page,
// the regular form of the editor font, and the hot areas of the Getting Started picture.

#include <QString>

#include "app/Settings.h"

namespace pw::app {

// "StrFieldSize" offers 50, 100, ... 250: index i is 50 * i + 50; another stored value
// preselects 100.
[[nodiscard]] int StrFieldSizeIndex(int strFieldSize);
[[nodiscard]] int StrFieldSizeFromIndex(int index);

// The editor font as chosen and the form it is used in: regular weight, not italic.
struct EditorFont {
    QString family;
    int pointSize = 12;
    int weight = 400;  // 0 means any weight, 400 normal, 700 bold
    bool italic = false;
};
struct RegularFont {
    EditorFont font;
    bool styleCancelled = false;  // bold or italic was asked for: tell the user
};
[[nodiscard]] RegularFont RegularEditorFont(const EditorFont& chosen);
// The face name the editor uses: a vertical font's leading '@' is dropped.
[[nodiscard]] QString EditorFaceName(const QString& family);

// What a click on the Getting Started picture asks for, by its position in dialog units.
enum class StartChoice { None, Open, SelectHtmlTemplate, ImportDatabase };
[[nodiscard]] StartChoice StartChoiceAt(double xDialogUnits, double yDialogUnits);
// How Getting Started was left: only "Exit" ends the program; Esc and the close box only
// put the box away.
enum class StartEnd { Continue, ExitProgram };

}  // namespace pw::app
