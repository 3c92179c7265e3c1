// The main window's document, database, printing and help commands.

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>
#include <QWebEnginePage>

#include "app/AppFolders.h"
#include "app/Commands.h"
#include "app/DocumentCommands.h"
#include "app/DocumentController.h"
#include "app/ProgramFiles.h"
#include "app/RecentList.h"
#include "app/RunRecovery.h"
#include "app/gui/CPZPtestDlg.h"
#include "compose/MailFile.h"
#include "compose/gui/CWebBrowser.h"
#include "resources/Strings.h"
#include "send/RunMarker.h"
#include "ui_MailComposer.h"

namespace pw::app {

namespace {

// The wait cursor for the length of a file operation.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

FileRequest projectFileRequest(FileChoice mode, const QString& caption) {
    FileRequest r;
    r.mode = mode;
    r.caption = caption;
    r.filters = str(ids::kProjectFilter);
    r.defaultSuffix = QStringLiteral("pzy");
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// New, Open, Save, Save As

bool CPZPtestDlg::QuerySave() {
    if (!DocumentModified())
        return true;
    const Answer a = m_session.ui().message(str(ids::kConfirmSaveCaption),
                                            str(ids::kDocumentNotSaved), MessageKind::YesNoCancel);
    if (a == Answer::Cancel)
        return false;
    if (a == Answer::No) {
        KeepRunOutcomes();
        return true;
    }
    const QString path = m_session.document().projectFilePath;
    if (path.isEmpty())
        return SaveProjectAs(QString());
    return SaveProjectTo(path);
}

void CPZPtestDlg::KeepRunOutcomes() {
    if (!m_marker)
        return;
    // Who has the mail is never given up with the other edits: the working copy holds the
    // committed outcomes (the discarded edits are rolled back at its close).
    if (!m_marker->noteUnsaved())
        return;  // not recoverable then: the copy goes as before
    m_session.store().SetWorkingCopyKept(true);
    m_markerKeptForRecovery = true;
}

void CPZPtestDlg::HoldUnsavedOutcomes() {
    const QString& path = m_session.document().projectFilePath;
    if (!m_marker || path.isEmpty()) {
        m_outcomesLock.reset();
        return;
    }
    if (!m_outcomesLock && QFileInfo::exists(path))
        m_outcomesLock = send::CProjectLock::acquire(path);
}

void CPZPtestDlg::ReleaseRunMarker() {
    m_outcomesLock.reset();
    if (!m_marker)
        return;
    if (!m_markerKeptForRecovery)
        m_marker->finish();
    m_marker.reset();  // a kept marker only lets its lock go
    m_markerKeptForRecovery = false;
}

bool CPZPtestDlg::MayLeaveDocument() {
    if (SendRunActive()) {
        inform(m_session.ui(), str(ids::kRunAlreadyInProgress));
        return false;
    }
    TakeFromWindow();
    return QuerySave();
}

void CPZPtestDlg::OnNew() {
    if (!MayLeaveDocument())
        return;
    const auto fresh = m_session.PrepareFreshDocument();
    ReleaseRunMarker();  // its working copy went (or was kept) with the document
    if (fresh == CAppSession::FreshResult::EndProcess) {
        QApplication::exit(0);
        return;
    }
    AfterFreshDocument();
    SetModified(false);
}

void CPZPtestDlg::OnOpen() {
    if (!MayLeaveDocument())
        return;
    const QStringList chosen =
        m_session.ui().chooseFiles(projectFileRequest(FileChoice::OpenFile, str(ids::kOpenTitle)));
    if (!chosen.isEmpty())
        (void)OpenProject(chosen.first());
    UpdateDocumentState();
}

bool CPZPtestDlg::OpenProject(const QString& path) {
    WaitCursor wait;
    const bool opened = m_session.OpenProjectFile(path);
    if (!m_session.store().IsOpen()) {
        // the project's database could not be used: go on with a fresh empty one rather
        // than without any
        if (m_session.PrepareFreshDocument() == CAppSession::FreshResult::EndProcess) {
            QApplication::exit(0);
            return false;
        }
        AfterFreshDocument();
        return false;
    }
    if (!opened) {
        UpdateDocumentState();
        return false;
    }
    // a run's outcomes left unsaved in the old working copy went (or were kept) with it
    ReleaseRunMarker();
    commandAction(cmd::kDefaultDatabase)->setChecked(false);
    ShowInWindow();
    ShowHtmlMail();
    SetModified(false);
    UpdateTitle(QFileInfo(path).fileName());
    UpdateDocumentState();
    return true;
}

void CPZPtestDlg::OnSave() {
    const QString path = m_session.document().projectFilePath;
    if (path.isEmpty()) {
        (void)SaveProjectAs(QString());
        return;
    }
    if (SaveProjectTo(path))
        SetModified(false);
}

void CPZPtestDlg::OnSaveAs() {
    (void)SaveProjectAs(QString());
}

bool CPZPtestDlg::SaveProjectAs(const QString& chosenPath) {
    activateWindow();
    QString chosen = chosenPath;
    for (;;) {
        if (chosen.isEmpty()) {
            FileRequest request = projectFileRequest(FileChoice::SaveFile, str(ids::kSaveCaption));
            request.directory = m_session.document().projectFilePath;
            const QStringList files = m_session.ui().chooseFiles(request);
            if (files.isEmpty())
                return false;
            chosen = files.first();
        }
        const QString path = projectPathFor(chosen);
        if (QFileInfo::exists(path)) {
            const Answer a =
                m_session.ui().message(str(ids::kSaveCaption), str(ids::kFileExistsOverwrite),
                                       MessageKind::YesNoCancelDefaultNo);
            if (a == Answer::Cancel)
                return false;
            if (a != Answer::Yes) {
                chosen.clear();
                continue;
            }
        }
        if (!SaveProjectTo(path))
            return false;
        m_session.document().projectFilePath = path;
        CRecentList(m_session.folders().userDataFolder).addProject(path);
        SetModified(false);
        UpdateTitle(QFileInfo(path).fileName());
        return true;
    }
}

bool CPZPtestDlg::SaveProjectTo(const QString& path) {
    TakeFromWindow();
    WaitCursor wait;
    const bool saved = CDocumentController(m_session).saveProject(path, m_marker);
    if (saved)
        m_markerKeptForRecovery = false;
    HoldUnsavedOutcomes();  // let go once the file has them
    UpdateDocumentState();
    return saved;
}

// ---------------------------------------------------------------------------------------
// Templates

void CPZPtestDlg::SelectTemplateByName(const QString& name) {
    if (CDocumentController(m_session).applyTemplate(name) ==
        CDocumentController::TemplateApplied::Applied)
        UpdateTitle(str(ids::kUntitled));  // the template's mail is no project file's
    ShowInWindow();
    ShowHtmlMail();
    SetModified(true);
    UpdateDocumentState();
}

void CPZPtestDlg::SaveAsTemplate(const std::function<QString()>& askName) {
    for (;;) {
        const QString name = askName ? askName() : QString();
        if (name.isEmpty())
            return;
        TakeFromWindow();
        switch (CDocumentController(m_session).saveAsTemplate(name)) {
            case CDocumentController::TemplateSaved::AskAgain:
            case CDocumentController::TemplateSaved::Refused:
                continue;
            case CDocumentController::TemplateSaved::Saved:
            case CDocumentController::TemplateSaved::Cancelled:
            case CDocumentController::TemplateSaved::Failed:
                return;
        }
    }
}

// ---------------------------------------------------------------------------------------
// HTML mail

void CPZPtestDlg::ShowHtmlMail() {
    const MailDocument& doc = m_session.document();
    const QString index = m_session.folders().mainPreviewFolder() + QStringLiteral("index.html");
    NavigateHtml(doc.isHtmlMail() ? index : QStringLiteral("about:blank"));
    UpdateDocumentState();
}

void CPZPtestDlg::NavigateHtml(const QString& target) {
    m_htmlTarget = target;
    // the view is made when the page is first shown or there is HTML to show
    if (!m_htmlView && target != QLatin1String("about:blank"))
        EnsureHtmlView();
    if (m_htmlView)
        m_htmlView->navigate(target);
}

void CPZPtestDlg::EnsureHtmlView() {
    if (m_htmlView)
        return;
    m_htmlView = new CWebBrowser(m_ui->htmlPage);
    m_htmlView->setObjectName(QStringLiteral("htmlView"));
    m_htmlView->setProperty("controlId", 1092);
    m_htmlView->setAccessibleName(str(ids::kHtmlPage));
    m_ui->htmlPage->layout()->addWidget(m_htmlView);
    m_htmlView->navigate(m_htmlTarget);
}

void CPZPtestDlg::OnDeleteHtmlTemplate() {
    if (CDocumentController(m_session).deleteHtmlMail() ==
        CDocumentController::HtmlMailDeleted::Kept)
        return;
    SetModified(true);
    NavigateHtml(QStringLiteral("about:blank"));
    UpdateDocumentState();
}

// ---------------------------------------------------------------------------------------
// Attachments

void CPZPtestDlg::OnAddAttachment() {
    FileRequest r;
    r.mode = FileChoice::OpenFiles;
    r.caption = str(ids::kAddAttachmentCaption);
    const QStringList files = m_session.ui().chooseFiles(r);
    if (!files.isEmpty())
        (void)AddAttachments(files);
}

void CPZPtestDlg::OnDeleteAttachments() {
    const Answer a =
        m_session.ui().message(str(ids::kDeleteAttachmentCaption),
                               str(ids::kDeleteAttachmentQuestion), MessageKind::YesNo);
    if (a == Answer::Yes) {
        QStringList& list = m_session.document().attachments;
        const QList<QListWidgetItem*> selected = m_ui->attachmentList->selectedItems();
        for (const QListWidgetItem* item : selected)
            list.removeOne(item->text());
        if (!selected.isEmpty())
            SetModified(true);
    }
    RefreshAttachmentList();
}

// ---------------------------------------------------------------------------------------
// Printing

void CPZPtestDlg::OnPageSetting() {
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPageSetupDialog dialog(m_printer.get(), this);
    dialog.setObjectName(QStringLiteral("pageSetupDialog"));
    (void)dialog.exec();
}

void CPZPtestDlg::OnPrint() {
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(m_printer.get(), this);
    dialog.setObjectName(QStringLiteral("printDialog"));
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    if (dialog.exec() != QDialog::Accepted)
        return;
    PrintCurrentTab(m_printer.get(), [this](bool ok) {
        if (!ok)
            inform(m_session.ui(), str(ids::kPrintFailed));
    });
}

void CPZPtestDlg::PrintCurrentTab(QPrinter* printer, std::function<void(bool)> done) {
    if (m_ui->mailTabs->currentIndex() == 1) {
        EnsureHtmlView();
        auto connection = std::make_shared<QMetaObject::Connection>();
        const auto finish = [connection, done](bool ok) {
            QObject::disconnect(*connection);
            if (done)
                done(ok);
        };
        if (printer->outputFormat() == QPrinter::PdfFormat &&
            !printer->outputFileName().isEmpty()) {
            // to a file the page goes as the engine lays it out, text and all, rather than as a
            // picture of the screen
            *connection = connect(m_htmlView->page(), &QWebEnginePage::pdfPrintingFinished, this,
                                  [finish](const QString&, bool ok) { finish(ok); });
            m_htmlView->page()->printToPdf(printer->outputFileName(), printer->pageLayout(),
                                           printer->pageRanges());
            return;
        }
        *connection = connect(m_htmlView, &QWebEngineView::printFinished, this, finish);
        m_htmlView->print(printer);
        return;
    }
    printer->setDocName(str(ids::kPrintTextDocument));
    QTextDocument doc;
    doc.setDefaultFont(m_ui->textBody->font());
    doc.setPlainText(m_ui->textBody->toPlainText());
    doc.print(printer);
    if (done)
        done(printer->printerState() != QPrinter::Error);
}

// ---------------------------------------------------------------------------------------
// Database commands

void CPZPtestDlg::OnDefaultDatabase() {
    QAction* item = commandAction(cmd::kDefaultDatabase);
    // the action toggled itself on the click: its state before is the opposite
    const bool wasChecked = !item->isChecked();
    item->setChecked(wasChecked);
    switch (toggleDefaultDatabase(m_session.settingsPath(), wasChecked, m_session.databaseFile())) {
        case DefaultDatabaseChange::NoFile:
            inform(m_session.ui(), str(ids::kNoDatabaseFileOpened));
            return;
        case DefaultDatabaseChange::WriteFailed:
            inform(m_session.ui(),
                   str(ids::kFileCannotBeWritten).arg(m_session.settingsPath(), QString()));
            return;
        case DefaultDatabaseChange::Cleared:
            item->setChecked(false);
            inform(m_session.ui(), str(ids::kNoDefaultDatabase));
            return;
        case DefaultDatabaseChange::Set:
            item->setChecked(true);
            inform(m_session.ui(), str(ids::kDefaultDatabaseSet).arg(m_session.databaseFile()));
            return;
    }
}

void CPZPtestDlg::OnClearDatabase() {
    if (m_session.ui().message(str(ids::kClearDatabaseCaption), str(ids::kClearDatabaseQuestion),
                               MessageKind::YesNo) != Answer::Yes)
        return;
    m_session.store().Records().DeleteAllRecords();
    SetModified(true);
    UpdateDocumentState();
}

void CPZPtestDlg::OnCharset(int row) {
    m_session.settings().encode = row;
    if (QAction* a = commandAction(cmd::kCharsetFirst + row))
        a->setChecked(true);
}

// ---------------------------------------------------------------------------------------
// Log, manual, about

void CPZPtestDlg::OnOpenLogFile() {
    const QString log = m_session.folders().logFilePath();
    if (!Launch(QUrl::fromLocalFile(log)))
        inform(m_session.ui(), str(ids::kCannotOpenFile).arg(QDir::toNativeSeparators(log)));
}

void CPZPtestDlg::OnManual() {
    const QString manual = manualPath(QApplication::applicationDirPath(), currentLanguage());
    if (manual.isEmpty()) {
        inform(m_session.ui(), str(ids::kManualMissing));
        return;
    }
    if (!Launch(QUrl::fromLocalFile(manual)))
        inform(m_session.ui(), str(ids::kCannotOpenFile).arg(QDir::toNativeSeparators(manual)));
}

void CPZPtestDlg::OnAbout() {
    QMessageBox box(this);
    box.setObjectName(QStringLiteral("aboutBox"));
    box.setWindowTitle(str(ids::kAboutCaption));
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setText(str(ids::kAboutText).arg(programVersion()));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

}  // namespace pw::app
