#include "app/Preferences.h"

namespace pw::app {

int StrFieldSizeIndex(int strFieldSize) {
    for (int i = 0; i < 5; ++i) {
        if (StrFieldSizeFromIndex(i) == strFieldSize)
            return i;
    }
    return 1;
}

int StrFieldSizeFromIndex(int index) {
    return 50 * index + 50;
}

RegularFont RegularEditorFont(const EditorFont& chosen) {
    RegularFont r;
    r.font = chosen;
    // 0 stands for "any weight" and asks for nothing
    r.styleCancelled = (chosen.weight != 400 && chosen.weight != 0) || chosen.italic;
    r.font.weight = 400;
    r.font.italic = false;
    if (r.font.pointSize <= 0)
        r.font.pointSize = 8;
    return r;
}

QString EditorFaceName(const QString& family) {
    return family.startsWith(QLatin1Char('@')) ? family.mid(1) : family;
}

StartChoice StartChoiceAt(double x, double y) {
    if (y < 33 || y > 33 + 91)
        return StartChoice::None;
    static constexpr double kLeft[] = {9, 89, 169, 250};
    static constexpr StartChoice kChoice[] = {StartChoice::None, StartChoice::Open,
                                              StartChoice::SelectHtmlTemplate,
                                              StartChoice::ImportDatabase};
    for (int i = 0; i < 4; ++i) {
        if (x >= kLeft[i] && x < kLeft[i] + 68)
            return kChoice[i];
    }
    return StartChoice::None;
}

}  // namespace pw::app
