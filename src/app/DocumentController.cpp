#include "app/DocumentController.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "app/ProjectStore.h"
#include "app/RunRecovery.h"
#include "compose/MailFile.h"
#include "compose/TemplatePlaces.h"
#include "resources/Strings.h"
#include "send/MessageAssembly.h"
#include "send/RunMarker.h"
#include "send/SendRules.h"
#include "send/Unsubscribe.h"

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
            if (store.FieldCaptions().Captions()[size_t(i)] != captions.at(i)) {
                store.FieldCaptions().SetCaption(i, captions.at(i));
                changed = true;
            }
        }
        if (changed)
            store.FieldCaptions().SaveCaptions();
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
    for (const QString& c : m_session.store().FieldCaptions().Captions())
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
    // A run of the command line since the last read or save: its outcomes are not written
    // over with this window's older ones.
    if (stampOf(path).path == m_session.projectStamp().path)
        (void)m_session.TakeOutcomesRecordedElsewhere(runMarker ? OwnOutcomes::Unsaved
                                                                : OwnOutcomes::Saved);
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
    m_session.projectStamp() = stampOf(path);
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

CDocumentController::PlaceholdersRewritten CDocumentController::offerPlaceholderRewrite(
    const std::array<QString, db::kFieldCount>& before) {
    db::TDbData& store = m_session.store();
    if (!store.IsOpen())
        return PlaceholdersRewritten::NothingToDo;
    const std::array<QString, db::kFieldCount> after = store.FieldCaptions().Captions();
    QStringList renamed;
    for (size_t k = 0; k < before.size(); ++k) {
        if (before[k] != after[k])
            renamed << QStringLiteral("[[%1]] \u2192 [[%2]]").arg(before[k], after[k]);
    }
    if (renamed.isEmpty())
        return PlaceholdersRewritten::NothingToDo;

    MailDocument& doc = m_session.document();
    QString* texts[] = {&doc.senderAddress, &doc.senderName, &doc.subject, &doc.recipientText,
                        &doc.textBody};
    const QString htmlPath =
        doc.isHtmlMail() ? m_session.folders().mainPreviewFolder() + QStringLiteral("index.html")
                         : QString();
    QString html;
    if (QFile file(htmlPath); !htmlPath.isEmpty() && file.open(QIODevice::ReadOnly))
        html = QString::fromUtf8(file.readAll());
    send::UnsubscribeSettings unsubscribe = send::loadUnsubscribeSettings(store);
    QString* unsubscribeTexts[] = {&unsubscribe.mailAddress, &unsubscribe.url,
                                   &unsubscribe.footerText, &unsubscribe.footerHtml};
    const auto uses = [&](const QString& t) {
        return send::renamePlaceholders(t, before, after) != t;
    };
    bool used = uses(html);
    for (const QString* t : texts)
        used = used || uses(*t);
    bool unsubscribeUsed = false;
    for (const QString* t : unsubscribeTexts)
        unsubscribeUsed = unsubscribeUsed || uses(*t);
    if (!used && !unsubscribeUsed)
        return PlaceholdersRewritten::NothingToDo;
    if (ask(m_session.ui(),
            send::formatMessageText(str(ids::kRewritePlaceholders),
                                    {renamed.join(QLatin1Char('\n'))}),
            MessageKind::YesNo) != Answer::Yes)
        return PlaceholdersRewritten::Declined;

    for (QString* t : texts)
        *t = send::renamePlaceholders(*t, before, after);
    if (uses(html)) {
        QSaveFile file(htmlPath);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(send::renamePlaceholders(html, before, after).toUtf8());
            if (!file.commit())
                inform(m_session.ui(), str(ids::kRewritePlaceholdersHtmlFailed));
        }
    }
    if (unsubscribeUsed) {
        for (QString* t : unsubscribeTexts)
            *t = send::renamePlaceholders(*t, before, after);
        (void)send::saveUnsubscribeSettings(store, unsubscribe);
    }
    return PlaceholdersRewritten::Rewritten;
}

}  // namespace pw::app
