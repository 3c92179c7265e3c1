#pragma once
// The tools of the mail's text body: counting characters and bytes, the automatic wrap
// setting, half-width katakana, and the line and frame makers.

#include <QString>
#include <optional>

#include "compose/CodePage.h"

namespace pw {

class IUserInteraction;

struct TextCounts {
    qsizetype characters = 0;
    qsizetype bytes = 0;
};
// Characters as the editor holds them (a line break is one), bytes in the code page.
[[nodiscard]] TextCounts countText(const QString& text, const CodePage& codePage);

// The automatic wrap as the main window keeps it for the run of the program.
struct AutoWrapState {
    QString wrapSwitch;  // on only when exactly "true"
    int lineLength = 0;
    [[nodiscard]] bool on() const { return wrapSwitch == u"true"; }
};

// The Auto-Wrap dialog's OK: the field read as leading decimal digits. Closes (true) or keeps
// the dialog open after "The length you specified is not valid." (false).
[[nodiscard]] bool confirmAutoWrap(AutoWrapState& state, bool checked, const QString& field,
                                   IUserInteraction& ui);
// Leading decimal digits; 0 without any.
[[nodiscard]] int leadingNumber(const QString& text);

// U+FF61 .. U+FF9F.
[[nodiscard]] bool isHalfWidthKatakana(QChar c);
[[nodiscard]] bool containsHalfWidthKatakana(const QString& text);
// Every run of half-width katakana becomes full-width katakana, a sound mark joined with the
// character before it where one exists; every other character stays exactly as it was.
[[nodiscard]] QString toFullWidthKatakana(const QString& text);
// Check Katakana: reports, or asks and returns the converted text on Yes.
[[nodiscard]] std::optional<QString> checkKatakana(const QString& text, IUserInteraction& ui);

enum class AutoLineMode { Characters, Repetitions };
// Characters: the line text repeated and cut to exactly count characters; repetitions: the
// line text count times. Nothing for a count that is not positive.
[[nodiscard]] QString autoLine(const QString& lineText, int count, AutoLineMode mode);

struct FramedText {
    QString text;
    qsizetype selectionStart = 0;  // the frame, first border to last, for the editor to select
    qsizetype selectionEnd = 0;
};
// Auto Frame over the lines from the selection's start line to its end line (a selection
// ending at a line start leaves that line out). Lines are separated by '\n'.
[[nodiscard]] FramedText autoFrame(const QString& text, qsizetype selectionStart,
                                   qsizetype selectionEnd, const QString& frame);

}  // namespace pw
