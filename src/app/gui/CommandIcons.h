#pragma once
// The pictures of the main window's toolbar buttons, drawn in code in one flat style (the
// program ships no image files): a page, a folder, a disk, a template, an envelope, a
// magnifier, the database cylinder with its arrows, the text tools and the settings.

#include <QIcon>

namespace pw::app {

// The icon of a toolbar command; a null icon for a command that is not on the toolbar.
[[nodiscard]] QIcon commandIcon(int commandId);

}  // namespace pw::app
