#pragma once
// Writing the recipients and the mail out to plain files: the database as comma- or
// TAB-delimited text, the text mail as a text file, the HTML mail as a folder of files.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

#include "exchange/ImportTable.h"
#include "resources/UserInteraction.h"

namespace pw::db {
class TDbData;
}

namespace pw::exchange {

// The extension of the file name of a path, after its last dot, lower-cased; empty without.
[[nodiscard]] QString lowerExtension(const QString& path);
// The path with the extension of its file name replaced (or added).
[[nodiscard]] QString replaceExtension(const QString& path, const QString& dottedExtension);

struct DatabaseExportTarget {
    QString path;
    char delimiter = ',';
};
// "txt" in any case keeps the path and uses TAB; anything else becomes ".csv" with commas.
[[nodiscard]] DatabaseExportTarget databaseExportTarget(const QString& chosenPath);

// One line of the export: every value between double quotes, joined by the delimiter,
// ended by LF. Nothing inside is escaped: a value holding a quote, the delimiter or a line
// break is written as it is (NULL is an empty value).
using ExportValues = std::array<std::optional<QByteArray>, 20>;
[[nodiscard]] QByteArray exportLine(const ExportValues& values, char delimiter);
[[nodiscard]] QByteArray captionLine(const QStringList& captions, char delimiter);

enum class ExportOutcome { Written, CannotCreate, DatabaseError };

// Writes the file: the caption line when withCaptions, then one line per record in the
// table's stored order (RecordOrder::Stored; none when no database is open). The file is
// replaced only once it is complete. error receives the reason of a failure.
[[nodiscard]] ExportOutcome exportDatabase(const DatabaseExportTarget& target,
                                           const QStringList& captions, bool withCaptions,
                                           db::TDbData* store, QString* error = nullptr);

// The whole "Export DataBase..." after the file dialog: chosen path to file, telling the
// user when the file could not be written.
ExportOutcome exportDatabaseCommand(const QString& chosenPath, const QStringList& captions,
                                    bool withCaptions, db::TDbData* store, IUserInteraction& ui);

// "Export Mail..." as text: the editor's plain text with paragraph ends as CR LF, in UTF-8,
// at the chosen path with ".txt" as its extension. Returns the path written, or nothing.
std::optional<QString> exportMailText(const QString& chosenPath, const QString& plainText,
                                      IUserInteraction& ui);

// "Export Mail..." as HTML: copies every file directly in the preview folder into
// chosenFolder/templateName (created when missing), replacing files of the same name.
// A template name that is not a plain folder name is refused like a folder that cannot be
// created, so that nothing is written outside the chosen folder.
bool exportHtmlMail(const QString& chosenFolder, const QString& templateName,
                    const QString& previewFolder, IUserInteraction& ui);

}  // namespace pw::exchange
