#pragma once
// The main window: the one mail of the current document (header fields, the text and HTML
// pages, attachments), every command of the program in the menus and the toolbar, and the
// hand-over of a send request to the send run.
//
// Commands are QActions carrying their number (app/Commands.h) as data; commandAction(id)
// finds one. Commands carried out by windows built elsewhere stay disabled until that code
// calls setCommandHandler(id, ...) (see gui/CommandWiring.h), so no menu item is ever a dead
// click.
//
// Object names of the controls (the control number is the "controlId" property):
//   headerGroup 1144, headerToggle 1159, senderAddress 1081, senderName 1082, recipient 1083,
//   subject 1029, mailTabs 1069, textBody 1133, htmlView 1092 (made when first needed),
//   sendButton 1030, testButton 1067, previewButton 1031, attachmentGroup 1142,
//   attachmentToggle 1160, attachmentList 1043, deleteAttachmentButton 1033,
//   minimumFrame 417, mainStatusLine, toolbar (mainToolbar), menus menuFile ... menuHelp,
//   charset popup menuCharacterEncoding.

#include <QMainWindow>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>

#include "app/AppSession.h"
#include "app/RunState.h"
#include "app/ScheduledSend.h"
#include "compose/TextTools.h"

class QAction;
class QActionGroup;
class QLabel;
class QMimeData;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPrinter;

namespace Ui {
class MailComposer;
}

namespace pw {
class CWebBrowser;
}

namespace pw::send {
class CSendFlow;
class CRunMarker;
class CProjectLock;
class CSendProgressRelay;
}  // namespace pw::send

namespace pw::app {

// The text body's lines as the editor shows them at its current width, soft-wrapped lines
// each on their own, the lines scrolled out of view included.
[[nodiscard]] QStringList DisplayedLines(const QPlainTextEdit& editor);

class CLogWindow;
class CSendProgressForm;
class CTransmissionDialog;

class CPZPtestDlg : public QMainWindow {
    Q_OBJECT
public:
    // projectFile: a path named on the command line, opened at the first paint.
    CPZPtestDlg(CAppSession& session, QString projectFile, QWidget* parent = nullptr);
    ~CPZPtestDlg() override;

    [[nodiscard]] CAppSession& session() { return m_session; }

    // ---- commands ----
    [[nodiscard]] QAction* commandAction(int id) const;
    // Gives a command its effect and enables it (the enablement rules of the window still
    // apply where it has them).
    void setCommandHandler(int id, std::function<void()> handler);

    // Opens files and URLs for Open Log File, View Log and Manual; the default is the
    // desktop's handler. Returns false when nothing could open it.
    using Launcher = std::function<bool(const QUrl&)>;
    void setLauncher(Launcher launcher);

    // ---- the document (also for the windows that change it) ----
    // Window fields into the mail document, and back.
    void TakeFromWindow();
    void ShowInWindow();
    void SetModified(bool modified);
    [[nodiscard]] bool DocumentModified() const;
    // The window title: display name " - " document name, with the unsaved-changes mark.
    void UpdateTitle(const QString& documentName);
    // Status line, the attachment commands, the HTML mail commands: after any change of the
    // document, the database or the attachments.
    void UpdateDocumentState();
    // The HTML page shows the document's HTML mail ("index.html" of the main preview folder)
    // or an empty page; Edit and Delete HTML Template follow.
    void ShowHtmlMail();
    [[nodiscard]] QPlainTextEdit* textBody() const;
    // The field that last had the focus (one of the four header edits or the text body).
    [[nodiscard]] QWidget* lastFocusedField() const { return m_lastFocused; }
    // Puts text at the cursor of the last focused field (placeholders from the field window).
    void InsertIntoLastFocusedField(const QString& text);
    // Adds files to the attachment list as dropping them does; false (after a message) when
    // one of them is a folder or missing, which is left out.
    bool AddAttachments(const QStringList& paths);
    [[nodiscard]] QStringList Attachments() const;
    // The Tools menu ends with "Auto-Wrap..." exactly while the "Wrap" setting is 1.
    void UpdateWrapItem();
    // The automatic wrap of the text body, kept while the program runs; the send and the
    // preview prepare the body with it.
    [[nodiscard]] AutoWrapState& autoWrap() { return m_autoWrap; }
    // A send flow over the mail as the window shows it, its body prepared as a send prepares
    // it (the send request and the preview both start from this).
    [[nodiscard]] std::unique_ptr<send::CSendFlow> MakeSendFlow();

    // Runs after the deferred start has prepared the fresh document (Getting Started);
    // returning false ends the window at once, without the close sequence.
    using StartHook = std::function<bool()>;
    void setStartHook(StartHook hook) { m_startHook = std::move(hook); }
    // Ends the window without asking and without the close sequence (no settings written);
    // the working files still go.
    void Abandon();

    // ---- documents (the File commands without their dialogs; tests drive these) ----
    // The save question; false when the user cancelled.
    [[nodiscard]] bool QuerySave();
    // The user discards the document: a run's outcomes not yet in the project file stay, with
    // its working copy, for the recovery at the next start.
    void KeepRunOutcomes();
    // The document is left: the marker of its last run is removed, or only let go when the
    // outcomes were kept for the recovery.
    void ReleaseRunMarker();
    // While this window has outcomes of its own run that the project file lacks, it holds the
    // project's lock: a run of the command line would send to them again from the file.
    void HoldUnsavedOutcomes();
    // The document may be left: no run is sending it, its changes saved or given up.
    [[nodiscard]] bool MayLeaveDocument();
    // Save As with the dialog's answer given; the overwrite question is still asked.
    [[nodiscard]] bool SaveProjectAs(const QString& chosenPath);
    [[nodiscard]] bool SaveProjectTo(const QString& path);
    // Opens a project file (after the save question has been dealt with).
    bool OpenProject(const QString& path);
    // Select Template for a name of the template folder (the dialog is elsewhere).
    void SelectTemplateByName(const QString& name);
    // Save As Template; askName shows the naming dialog and returns "" for Cancel.
    void SaveAsTemplate(const std::function<QString()>& askName);

    // ---- printing ----
    // Prints the current tab to a ready printer (the Print command asks for one first);
    // done(true) once the pages are out. Printing the HTML page finishes asynchronously.
    void PrintCurrentTab(QPrinter* printer, std::function<void(bool)> done);

    // ---- sending ----
    [[nodiscard]] bool SendRunActive() const;
    // What a run locks; other windows ask it before they touch the run's database.
    [[nodiscard]] const CRunState& runState() const { return m_runState; }
    // The log window ("LogView"): shown, or hidden.
    void ShowLogWindow(bool show);
    // Where the rest of a run is scheduled: the user's systemd unit folder and systemctl,
    // unless a test names its own.
    void SetScheduler(QString unitFolder, SystemctlRunner systemctl);

signals:
    // The deferred start is done: a fresh document and a working database exist.
    void started();
    // A send run ended and its summary was shown.
    void sendRunEnded();
    // A send run began or ended: windows open meanwhile lock or free their commands.
    void runStateChanged(bool running);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    // The local files a drag carries; empty for text, web links and the like.
    [[nodiscard]] static QStringList droppedFiles(const QMimeData* data);
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    // The recipients of the saved project not yet sent go automatically at `when` (the
    // project is saved first: the timer's run reads the file).
    void ScheduleRest(const QDateTime& when);
    // "Send later...": asks when.
    void SendLater();
    // The continuation scheduled for this project, shown with the choice to cancel it.
    void OfferScheduledCancel();
    // Locked commands disabled while a run lives, enabled again when it has ended.
    void ApplyRunLock();
    void BuildCommands();
    void BuildCharsetPopup(QMenu* option);
    void BuildToolbar();
    void SetTexts();
    void ConnectOwnCommands();
    void DeferredStart();
    void RestorePlacement();
    [[nodiscard]] WindowPlacement CurrentPlacement() const;
    void AfterFreshDocument();

    void UpdateEnablement();
    void UpdateStatusLine();
    void RefreshAttachmentList();
    void ToggleHeader();
    void ToggleAttachments();
    void EnsureHtmlView();
    void NavigateHtml(const QString& target);

    // File commands
    void OnNew();
    void OnOpen();
    void OnSave();
    void OnSaveAs();
    void OnOpenLogFile();
    void OnDeleteHtmlTemplate();
    void OnAddAttachment();
    void OnDeleteAttachments();
    void OnPageSetting();
    void OnPrint();
    // Edit commands on the last focused field
    void OnEditCommand(int id);
    // Database
    void OnDefaultDatabase();
    void OnClearDatabase();
    void OnCharset(int row);
    // Help
    void OnManual();
    void OnAbout();
    // Sending
    void OnSend();
    void OnTest();
    void StartSend(bool test);
    // The selection of a merge send, with the questions about it; false: nothing to send.
    [[nodiscard]] bool ChooseRecipients(send::CSendFlow& flow, db::SendSelectionMode mode);
    void SendRunFinished();
    void EnsureLogWindow();
    void ShowSummary();
    void CancelSendRun();

    bool Launch(const QUrl& url);
    [[nodiscard]] QLineEdit* headerEdit(int index) const;

    CAppSession& m_session;
    QString m_projectFile;
    std::unique_ptr<Ui::MailComposer> m_ui;
    bool m_firstPaint = true;
    bool m_showing = false;  // the window is being filled from the document
    bool m_headerCollapsed = false;
    bool m_attachmentsCollapsed = false;
    QPointer<QWidget> m_lastFocused;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_editMenu = nullptr;
    QMenu* m_databaseMenu = nullptr;
    QMenu* m_toolsMenu = nullptr;
    QMenu* m_optionMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QActionGroup* m_charsetGroup = nullptr;
    QLabel* m_statusLine = nullptr;
    QWidget* m_minimumFrame = nullptr;
    QString m_htmlTarget = QStringLiteral("about:blank");
    QPointer<CWebBrowser> m_htmlView;
    Launcher m_launcher;
    std::unique_ptr<QPrinter> m_printer;  // made by Page Setting or Print, kept for the next

    // The send run of the window. The relay is declared first so that it outlives the flow,
    // whose end waits for the worker that reports through it.
    std::unique_ptr<send::CSendProgressRelay> m_relay;
    std::unique_ptr<send::CSendFlow> m_flow;
    CRunState m_runState;
    bool m_sendStarting = false;  // StartSend's dialog and questions are open
    std::unique_ptr<send::CRunMarker> m_marker;
    bool m_markerKeptForRecovery = false;
    std::unique_ptr<send::CProjectLock> m_outcomesLock;
    QPointer<CSendProgressForm> m_progress;
    CLogWindow* m_logWindow = nullptr;
    bool m_minimizedForRun = false;
    bool m_closeAfterRun = false;
    QString m_unitFolder;
    SystemctlRunner m_systemctl;
    std::unique_ptr<CProjectOpenMark> m_openMark;

    AutoWrapState m_autoWrap;
    StartHook m_startHook;
    bool m_abandoned = false;
};

}  // namespace pw::app
