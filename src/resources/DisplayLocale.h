#pragma once

#include <QLocale>

namespace pw {

// The locale dates and times are shown in: the user's own; where none is chosen (the C
// locale), the interface's language, so that a Japanese window does not show an English
// date form.
[[nodiscard]] QLocale displayLocale();

}  // namespace pw
