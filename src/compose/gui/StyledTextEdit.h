#pragma once
// The wizard's text box and the formatted text of the template markup: per character font
// name, size, colour (or the automatic one), bold, italic and a link index into the table.

#include <QTextCharFormat>

#include "compose/TemplateMarkup.h"
#include "compose/gui/d_TextStyle.h"

class QTextEdit;

namespace pw {

// Where a character's index into the link table is kept in its format.
inline constexpr int kLinkIndexProperty = QTextFormat::UserProperty + 1;

void setStyledText(QTextEdit& edit, const StyledText& text, const TextDefaults& defaults,
                   const LinkTable& links);
[[nodiscard]] StyledText styledText(const QTextEdit& edit, const TextDefaults& defaults);

// The style of the selection for "Text/Color Settings", and the chosen style laid over it.
[[nodiscard]] TextStyle selectionStyle(const QTextEdit& edit, const TextDefaults& defaults,
                                       const LinkTable& links);
void applyStyle(QTextEdit& edit, const TextStyle& style, const TextDefaults& defaults,
                LinkTable& links);

}  // namespace pw
