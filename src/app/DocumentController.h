#pragma once
// The commands that change the mail document as a whole: apply a mail template, save the
// mail as a template, save the project, delete the HTML mail. The main window shows what
// they leave behind; tests drive them without it.

#include <QString>
#include <array>
#include <memory>

#include "app/AppSession.h"

namespace pw::send {
class CRunMarker;
}

namespace pw::app {

// A name Save As Template may write: not empty, no "/" or "\", no "..", no control character,
// so that the file stays inside the template folder.
[[nodiscard]] bool isTemplateName(const QString& name);

class CDocumentController {
public:
    explicit CDocumentController(CAppSession& session) : m_session(session) {}

    enum class TemplateApplied { Applied, Unreadable };
    // Select Template: the document is cleared (the previous mail's attachments, HTML mail
    // and project file path go), then the template's sender, recipient, subject and body
    // take its place and its captions become the store's. A file that cannot be read leaves
    // the document as it was, without a message. Either way the document is modified.
    [[nodiscard]] TemplateApplied applyTemplate(const QString& name);

    enum class TemplateSaved { Saved, Cancelled, AskAgain, Refused, Failed };
    // Save As Template into the user's template folder, with the store's captions. A name
    // that is no template name is refused with a message; a template of that name is
    // replaced only after Yes (No: AskAgain, for another name). Neither the modified flag nor
    // the project file path changes.
    [[nodiscard]] TemplateSaved saveAsTemplate(const QString& name);

    // Save project to the path. On success the outcomes of the last run are in the file, so
    // its marker is finished and released and the working copy no longer kept for recovery.
    // The flag and the path are the caller's.
    [[nodiscard]] bool saveProject(const QString& path,
                                   std::unique_ptr<send::CRunMarker>& runMarker);

    enum class HtmlMailDeleted { Deleted, Kept };
    // Delete HTML Template: asks first; on Yes the document becomes a text mail, the preview
    // folders are emptied and the document is modified.
    [[nodiscard]] HtmlMailDeleted deleteHtmlMail();

    enum class PlaceholdersRewritten { Rewritten, Declined, NothingToDo };
    // After the field captions changed from `before` (the Fields window, an import's heading
    // row): when the open mail, its HTML or the unsubscribe settings still write a field by
    // its old caption, offers to write them with the new one. The document's texts must be
    // taken from the window before and shown again after Rewritten.
    [[nodiscard]] PlaceholdersRewritten offerPlaceholderRewrite(
        const std::array<QString, db::kFieldCount>& before);

private:
    CAppSession& m_session;
};

}  // namespace pw::app
