#pragma once
// The small record files this library keeps in the user's data folder beside the projects (the
// suppression list, the campaign history): how they are attached, created and written to.

#include <QString>
#include <initializer_list>
#include <string>

#include "db/IBPP.h"

namespace pw::db {

enum class FileWrites { Forced, Cached };

// Attaches, waiting a little while another Postwick of the user (a scheduled run) holds the
// file; throws the engine's error when it stays held.
[[nodiscard]] IBPP::Database AttachLocalFile(const QString& path, FileWrites writes);

// Makes the file with its tables, readable by its owner only; a failure leaves no file behind.
void CreateLocalFile(const QString& path, std::initializer_list<const char*> ddl);

// At most `limit` bytes of UTF-8, never cutting a character.
[[nodiscard]] std::string Utf8Prefix(const QString& text, int limit);

}  // namespace pw::db
