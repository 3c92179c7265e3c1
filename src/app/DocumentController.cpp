#include "app/DocumentController.h"

#include <QFileInfo>

#include "app/ProjectStore.h"
#include "app/RunRecovery.h"
#include "compose/MailFile.h"
#include "compose/TemplatePlaces.h"
#include "resources/Strings.h"
#include "send/RunMarker.h"

namespace pw::app {

bool isTemplateName(const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1String("..")))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

CDocumentController::TemplateApplied CDocumentController::applyTemplate(const QString& name) {
    const AppFolders& folders = m_session.folders();
    MailFileReadOptions options;
    options.previewFolder = folders.mainPreviewFolder();
    options.currentCodePage = MailCodePage(m_session.settings().encode);
    // a template's database, if it has one, is not wanted
    const MailFileReadResult r =
        readMailFile(mailTemplatePath(MailTemplatePlaces(folders), name), options, nullptr);
    MailDocument& doc = m_session.document();
    doc.modified = true;
    if (!r.ok())
        return TemplateApplied::Unreadable;

    clearDocument(doc, m_session.FreshRecipientText());
    // a template is a text mail: files a project file brought along are not wanted either
    (void)emptyFolderFiles(folders.mainPreviewFolder());
    (void)emptyFolderFiles(folders.wizardPreviewFolder());
    const MailDocument& t = r.contents->document;
    doc.senderAddress = t.senderAddress;
    doc.senderName = t.senderName;
    doc.subject = t.subject;
    doc.recipientText = t.recipientText;
    doc.textBody = t.textBody;

    db::TDbData& store = m_session.store();
    if (r.contents->captions && store.IsOpen()) {
        const QStringList& captions = *r.contents->captions;
        bool changed = false;
        for (int i = 0; i < db::kFieldCount && i < captions.size(); ++i) {
            if (store.Captions()[size_t(i)] != captions.at(i)) {
                store.SetCaption(i, captions.at(i));
                changed = true;
            }
        }
        if (changed)
            store.SaveCaptions();
    }
    return TemplateApplied::Applied;
}

CDocumentController::TemplateSaved CDocumentController::saveAsTemplate(const QString& name) {
    if (name.isEmpty())
        return TemplateSaved::Cancelled;
    IUserInteraction& ui = m_session.ui();
    if (!isTemplateName(name)) {
        inform(ui, str(ids::kTemplateNameRefused));
        return TemplateSaved::Refused;
    }
    // the user's own file, which takes the place of a shipped one of the name
    const TemplatePlaces places = MailTemplatePlaces(m_session.folders());
    const QString path = ownMailTemplatePath(places, name);
    if (QFileInfo::exists(path) || mailTemplateNames(places).contains(name)) {
        const Answer a = ask(ui, str(ids::kFileExistsOverwrite), MessageKind::YesNoCancel);
        if (a == Answer::Cancel)
            return TemplateSaved::Cancelled;
        if (a == Answer::No)
            return TemplateSaved::AskAgain;
    }
    (void)CreateFolder(places.own);
    QStringList captions;
    for (const QString& c : m_session.store().Captions())
        captions.append(c);
    const WriteResult written = writeTemplateFile(path, m_session.document(), captions,
                                                  MailCodePage(m_session.settings().encode), &ui);
    return written.ok() ? TemplateSaved::Saved : TemplateSaved::Failed;
}

bool CDocumentController::saveProject(const QString& path,
                                      std::unique_ptr<send::CRunMarker>& runMarker) {
    MailDocument& doc = m_session.document();
    const QString preview = m_session.folders().mainPreviewFolder();
    doc.pictureList = doc.isHtmlMail() ? filesInFolder(preview) : QStringList();
    db::TDbData& store = m_session.store();
    const bool hadDatabase = store.IsOpen();
    const WriteResult r =
        app::saveProject(path, doc, m_session.scheduled(), preview, store,
                         MailCodePage(m_session.settings().encode), &m_session.ui());
    // keep the user working on a database; a store that was open and did not come back
    // was told of by the save
    if (!store.IsOpen() && !store.Open() && !hadDatabase)
        inform(m_session.ui(), str(ids::kStoreNotReopened));
    if (!r.ok())
        return false;
    if (runMarker) {
        runMarker->finish();
        runMarker.reset();
        store.SetWorkingCopyKept(false);
    }
    return true;
}

CDocumentController::HtmlMailDeleted CDocumentController::deleteHtmlMail() {
    if (m_session.ui().message(str(ids::kDeleteHtmlMailCaption), str(ids::kDeleteHtmlMailQuestion),
                               MessageKind::YesNo) != Answer::Yes)
        return HtmlMailDeleted::Kept;
    MailDocument& doc = m_session.document();
    doc.htmlTemplateName.clear();
    doc.pictureList.clear();
    (void)emptyFolderFiles(m_session.folders().mainPreviewFolder());
    (void)emptyFolderFiles(m_session.folders().wizardPreviewFolder());
    doc.modified = true;
    return HtmlMailDeleted::Deleted;
}

}  // namespace pw::app
