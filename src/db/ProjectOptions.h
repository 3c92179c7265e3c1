#pragma once
// Settings that belong to one project and travel with it: named texts in the table
// PROJECT_OPTIONS of its recipient database, which the project file packs whole. Older
// readers of the database never look at that table, and a database without it reads as one
// without options. Written through the main transaction, so they are saved (and discarded)
// with the project's other changes.

#include <QMap>
#include <QString>

namespace pw::db {

class TDbData;

// The longest value a named text holds, in UTF-8 bytes.
inline constexpr int kProjectOptionBytes = 8000;

// Every named text of the open database (empty without the table or a database). Read in
// the main transaction, so unsaved changes count. False when the table could not be read.
[[nodiscard]] bool LoadProjectOptions(TDbData& store, QMap<QString, QString>& options);

enum class OptionsWrite { Written, NoDatabase, TooLong, Failed };
// Replaces the named texts given (an empty text removes its row); the store is modified.
[[nodiscard]] OptionsWrite SaveProjectOptions(TDbData& store,
                                              const QMap<QString, QString>& options);

}  // namespace pw::db
