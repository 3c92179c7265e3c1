#pragma once
// Templates of one kind (mail templates, HTML templates) live in two places: the shipped ones,
// which the program only reads, and the user's own in the user data folder. Both are listed
// together, the user's first; a user's template hides a shipped one of the same name.
// Deleting a shipped template hides it for this user: its name goes into "hidden.txt" of the
// user's folder, and the shipped file stays as it was.

#include <QString>
#include <QStringList>

#include "compose/TemplateLibrary.h"

namespace pw {

struct TemplatePlaces {
    QString own;      // in the user data folder, ending in '/'; made when first written
    QString shipped;  // shipped data, ending in '/'; never written
};

enum class TemplateRemoval { Removed, Failed };

// The shipped names this user deleted.
[[nodiscard]] QStringList hiddenTemplates(const TemplatePlaces& places);

// Mail templates ("*.pzt"): the user's names, then the shipped names neither hidden nor
// taken by one of the user's; each group sorted without regard to case.
[[nodiscard]] QStringList mailTemplateNames(const TemplatePlaces& places);
// The file a listed name opens: the user's, else the shipped one; the user's path (which
// does not exist) for a name that is in neither place or is hidden.
[[nodiscard]] QString mailTemplatePath(const TemplatePlaces& places, const QString& name);
// Where Save As Template writes: always the user's folder.
[[nodiscard]] QString ownMailTemplatePath(const TemplatePlaces& places, const QString& name);
// Removes the user's file of that name and hides a shipped one of that name, so that the
// name is gone from the list. Failed when a file could not be removed or the hidden list not
// written; the shipped file is never touched.
[[nodiscard]] TemplateRemoval removeMailTemplate(const TemplatePlaces& places, const QString& name);

// The HTML template library of both places: the user's templates first, then the shipped
// tree without the templates that are hidden or of a name the user has.
[[nodiscard]] LibraryNode scanLibraries(const TemplatePlaces& places);
// The same for a template folder listed by scanLibraries: a folder of the user's is removed,
// a shipped template is hidden (and a shipped one of the same name with the user's).
[[nodiscard]] TemplateRemoval removeHtmlTemplate(const TemplatePlaces& places,
                                                 const LibraryNode& node);

}  // namespace pw
