#pragma once
// The decisions of the main window's document and database commands that need no window:
// the project path a chosen name becomes, the default-database setting.

#include <QString>

namespace pw::app {

// Save As: the chosen path with its extension replaced by ".pzy" (added when it has none).
[[nodiscard]] QString projectPathFor(const QString& chosenPath);

enum class DefaultDatabaseChange {
    Set,      // "DefaultDBPath" now names the database file
    Cleared,  // "DefaultDBPath" is now empty
    NoFile,   // nothing to set: no database file is open (nothing written)
    WriteFailed,
};

// The default-database command on the settings file: clears "DefaultDBPath" when the item
// was checked, else sets it to the database file (which must exist).
[[nodiscard]] DefaultDatabaseChange toggleDefaultDatabase(const QString& settingsPath,
                                                          bool wasChecked,
                                                          const QString& databaseFile);

}  // namespace pw::app
