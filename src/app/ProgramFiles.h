#pragma once
// Files shipped with the program: the user manual. They are found beside the executable in
// the build tree and under share/postwick/ of an installed tree.

#include <QString>

#include "resources/Strings.h"

namespace pw::app {

// The manual in the user's language ("manual/index.html" or "manual/index.ja.html"), falling
// back to the English one; empty when neither is there.
[[nodiscard]] QString manualPath(const QString& executableFolder, Language language);

// The program's version, as the build names it.
[[nodiscard]] QString programVersion();
// "--version": the program's name and version on standard output; the exit value.
int printVersion();

}  // namespace pw::app
