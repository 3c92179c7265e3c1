#include "app/gui/CPZPtestDlg.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>

#include "app/Commands.h"
#include "app/DocumentCommands.h"
#include "app/ProgramFiles.h"
#include "app/gui/CommandIcons.h"
#include "app/gui/CommandWiring.h"
#include "app/gui/DesktopLauncher.h"
#include "app/gui/SendWindows.h"
#include "resources/Strings.h"
#include "send/RunMarker.h"
#include "send/SendFlow.h"
#include "send/SendProgress.h"
#include "smtp/Charsets.h"
#include "ui_MailComposer.h"

namespace pw::app {

namespace {

constexpr char kCommandProperty[] = "commandId";
constexpr char kHandledProperty[] = "commandHandled";

bool isEnterOrEscape(const QKeyEvent* k) {
    return k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter || k->key() == Qt::Key_Escape;
}

bool isModifierOnly(const QKeyEvent* k) {
    switch (k->key()) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_Meta:
        case Qt::Key_AltGr:
        case Qt::Key_CapsLock:
            return true;
        default:
            return false;
    }
}

}  // namespace

CPZPtestDlg::CPZPtestDlg(CAppSession& session, QString projectFile, QWidget* parent)
    : QMainWindow(parent),
      m_session(session),
      m_projectFile(std::move(projectFile)),
      m_ui(std::make_unique<Ui::MailComposer>()) {
    setObjectName(QStringLiteral("CPZPtestDlg"));
    auto* central = new QWidget(this);
    m_ui->setupUi(central);
    setCentralWidget(central);
    setAcceptDrops(true);

    // The invisible frame whose size is the window's smallest.
    m_minimumFrame = new QWidget(central);
    m_minimumFrame->setObjectName(QStringLiteral("minimumFrame"));
    m_minimumFrame->setProperty("controlId", 417);
    m_minimumFrame->setGeometry(0, 0, 560, 440);
    m_minimumFrame->hide();

    m_statusLine = new QLabel(this);
    m_statusLine->setObjectName(QStringLiteral("mainStatusLine"));
    statusBar()->addWidget(m_statusLine, 1);
    statusBar()->setSizeGripEnabled(true);
    // What the store could not do (a grid cell it refused, a read that failed) is told in the
    // status line; the sink is called on any thread, the run's too.
    QPointer<CPZPtestDlg> self(this);
    m_session.store().SetDiagnostics([self](const QString& text) {
        QMetaObject::invokeMethod(
            qApp,
            [self, text] {
                if (self)
                    self->statusBar()->showMessage(str(ids::kDatabaseErrorStatus).arg(text));
            },
            Qt::QueuedConnection);
    });

    m_session.ReadSettingsFile();
    BuildCommands();
    BuildToolbar();
    SetTexts();
    ConnectOwnCommands();

    // Keys: Enter and Esc never end the window; typing in a header field marks the
    // document modified; the focus decides what the Edit commands work on.
    for (QLineEdit* edit :
         {m_ui->senderAddress, m_ui->senderName, m_ui->recipient, m_ui->subject}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this] { SetModified(true); });
        connect(edit, &QLineEdit::selectionChanged, this, &CPZPtestDlg::UpdateEnablement);
        connect(edit, &QLineEdit::textChanged, this, &CPZPtestDlg::UpdateEnablement);
    }
    QPlainTextEdit* body = m_ui->textBody;
    body->installEventFilter(this);
    // drops land on the editor's viewport: files dropped there are attached, not pasted
    body->viewport()->installEventFilter(this);
    body->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(body, &QWidget::customContextMenuRequested, this,
            [this, body](const QPoint& p) { m_editMenu->exec(body->mapToGlobal(p)); });
    connect(body, &QPlainTextEdit::selectionChanged, this, &CPZPtestDlg::UpdateEnablement);
    connect(body, &QPlainTextEdit::undoAvailable, this, &CPZPtestDlg::UpdateEnablement);
    connect(body, &QPlainTextEdit::copyAvailable, this, &CPZPtestDlg::UpdateEnablement);
    connect(body, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showing)
            SetModified(true);
        UpdateEnablement();
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now == m_ui->senderAddress || now == m_ui->senderName || now == m_ui->recipient ||
            now == m_ui->subject || now == m_ui->textBody) {
            m_lastFocused = now;
            UpdateEnablement();
        }
    });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &CPZPtestDlg::UpdateEnablement);
    connect(m_ui->mailTabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == 1)
            EnsureHtmlView();
    });
    connect(m_ui->attachmentList, &QListWidget::itemSelectionChanged, this,
            &CPZPtestDlg::UpdateEnablement);

    const Settings& s = m_session.settings();
    m_ui->senderAddress->setText(s.server.from);
    m_ui->senderName->setText(s.server.name);
    findChild<QToolBar*>(QStringLiteral("mainToolbar"))->setVisible(s.toolbar != 0);
    QFont font(s.font, s.fontSize > 0 ? s.fontSize : 12);
    font.setStyleHint(QFont::TypeWriter);
    body->setFont(font);

    // Windows of other parts of the program hook their commands in here.
    wireOtherCommands(*this);

    UpdateTitle(str(ids::kUntitled));
    UpdateEnablement();
    RestorePlacement();
}

CPZPtestDlg::~CPZPtestDlg() {
    m_session.store().SetDiagnostics({});
    // Closing the child windows below moves the focus; the application's signals must not
    // reach this window once its form is gone.
    if (qApp != nullptr) {
        disconnect(qApp, nullptr, this, nullptr);
        disconnect(QGuiApplication::clipboard(), nullptr, this, nullptr);
    }
}

// ---------------------------------------------------------------------------------------
// Commands

void CPZPtestDlg::BuildCommands() {
    QMenuBar* bar = menuBar();
    const auto addMenu = [&](const char* name, int textId) {
        QMenu* m = bar->addMenu(str(textId));
        m->setObjectName(QLatin1String(name));
        return m;
    };
    m_fileMenu = addMenu("menuFile", ids::kMenuFile);
    m_editMenu = addMenu("menuEdit", ids::kMenuEdit);
    m_databaseMenu = addMenu("menuDatabase", ids::kMenuDatabase);
    m_toolsMenu = addMenu("menuTools", ids::kMainMenuTools);
    m_optionMenu = addMenu("menuOption", ids::kMenuOption);
    m_helpMenu = addMenu("menuHelp", ids::kMenuHelp);

    for (const CommandInfo& c : commandTable()) {
        QMenu* menu = nullptr;
        switch (c.menu) {
            case MenuPopup::File:
                menu = m_fileMenu;
                break;
            case MenuPopup::Edit:
                menu = m_editMenu;
                break;
            case MenuPopup::Database:
                menu = m_databaseMenu;
                break;
            case MenuPopup::Tools:
                menu = m_toolsMenu;
                break;
            case MenuPopup::Option:
                menu = m_optionMenu;
                break;
            case MenuPopup::Help:
                menu = m_helpMenu;
                break;
            case MenuPopup::ToolbarOnly:
                break;
        }
        if (c.id == cmd::kCharacterEncoding) {
            BuildCharsetPopup(menu);
            continue;
        }
        auto* a = new QAction(str(c.textId), this);
        a->setObjectName(QStringLiteral("command%1").arg(c.id));
        a->setData(c.id);
        a->setProperty(kCommandProperty, c.id);
        if (c.keys)
            a->setShortcut(QKeySequence(QString::fromLatin1(c.keys)));
        // Edit keys belong to the focused field while it handles them itself
        a->setShortcutContext(Qt::WindowShortcut);
        if (c.tooltipId)
            a->setToolTip(str(c.tooltipId));
        if (c.owner == CommandOwner::Elsewhere)
            a->setEnabled(false);
        if (menu) {
            if (c.separatorBefore && !menu->isEmpty())
                menu->addSeparator();
            menu->addAction(a);
        } else {
            addAction(a);  // toolbar only: its shortcut still works
        }
    }
    // Names the tests and other windows use for the common ones.
    commandAction(cmd::kExit)->setObjectName(QStringLiteral("actionExit"));
    commandAction(cmd::kDefaultDatabase)->setCheckable(true);
    commandAction(cmd::kDisplayFieldWindow)->setCheckable(true);
    commandAction(cmd::kDisplayFieldWindow)->setChecked(m_session.settings().showFieldWnd);
    UpdateWrapItem();
}

void CPZPtestDlg::BuildCharsetPopup(QMenu* option) {
    QMenu* popup = option->addMenu(str(ids::kCmdCharacterEncoding));
    popup->setObjectName(QStringLiteral("menuCharacterEncoding"));
    popup->menuAction()->setData(cmd::kCharacterEncoding);
    popup->menuAction()->setProperty(kCommandProperty, cmd::kCharacterEncoding);
    m_charsetGroup = new QActionGroup(this);
    m_charsetGroup->setExclusive(true);
    const int rows = std::min(smtp::charsetCount(), cmd::kCharsetLast - cmd::kCharsetFirst + 1);
    const int current = m_session.settings().encode;
    for (int row = 0; row < rows; ++row) {
        auto* a = popup->addAction(smtp::charsetDisplayName(row));
        a->setObjectName(QStringLiteral("command%1").arg(cmd::kCharsetFirst + row));
        a->setData(cmd::kCharsetFirst + row);
        a->setProperty(kCommandProperty, cmd::kCharsetFirst + row);
        a->setCheckable(true);
        a->setChecked(row == current);
        m_charsetGroup->addAction(a);
        connect(a, &QAction::triggered, this, [this, row] { OnCharset(row); });
        if (smtp::charsetRow(row).separatorAfter && row + 1 < rows)
            popup->addSeparator();
    }
}

void CPZPtestDlg::BuildToolbar() {
    QToolBar* tb = addToolBar(str(ids::kToolbarTitle));
    tb->setObjectName(QStringLiteral("mainToolbar"));
    tb->setMovable(false);
    // pictures with the texts as tooltips: all 19 places fit a window of the smallest width
    tb->setIconSize(QSize(24, 24));
    tb->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (int id : toolbarLayout()) {
        if (id == 0) {
            tb->addSeparator();
            continue;
        }
        QAction* a = commandAction(id);
        a->setIcon(commandIcon(id));
        tb->addAction(a);
        if (QWidget* w = tb->widgetForAction(a)) {
            w->setObjectName(QStringLiteral("toolbarButton%1").arg(id));
            w->setAccessibleName(a->toolTip());
        }
    }
}

void CPZPtestDlg::SetTexts() {
    Ui::MailComposer& u = *m_ui;
    u.headerGroup->setTitle(str(ids::kMailHeader));
    u.senderAddressLabel->setText(str(ids::kSenderAddress));
    u.senderNameLabel->setText(str(ids::kSenderName));
    u.recipientLabel->setText(str(ids::kRecipient));
    u.subjectLabel->setText(str(ids::kTitle));
    u.mailTabs->setTabText(0, str(ids::kTabText));
    u.mailTabs->setTabText(1, str(ids::kTabHtml));
    u.sendButton->setText(str(ids::kMainButtonSend));
    u.testButton->setText(str(ids::kMainButtonTest));
    u.previewButton->setText(str(ids::kMainButtonPreview));
    u.attachmentGroup->setTitle(str(ids::kAttachments));
    u.deleteAttachmentButton->setText(str(ids::kMainButtonDelete));
    u.headerToggle->setText(str(ids::kCollapse));
    u.attachmentToggle->setText(str(ids::kCollapse));

    // Screen readers and desktop automation reach every control by its label's text.
    u.headerGroup->setAccessibleName(str(ids::kMailHeader));
    u.headerToggle->setAccessibleName(str(ids::kToggleHeader));
    u.senderAddress->setAccessibleName(str(ids::kSenderAddress));
    u.senderName->setAccessibleName(str(ids::kSenderName));
    u.recipient->setAccessibleName(str(ids::kRecipient));
    u.subject->setAccessibleName(str(ids::kTitle));
    u.mailTabs->setAccessibleName(str(ids::kTextBody));
    u.textPage->setAccessibleName(str(ids::kTabText));
    u.htmlPage->setAccessibleName(str(ids::kTabHtml));
    u.textBody->setAccessibleName(str(ids::kTextBody));
    u.sendButton->setAccessibleName(str(ids::kMainButtonSend));
    u.testButton->setAccessibleName(str(ids::kMainButtonTest));
    u.previewButton->setAccessibleName(str(ids::kMainButtonPreview));
    u.attachmentGroup->setAccessibleName(str(ids::kAttachments));
    u.attachmentToggle->setAccessibleName(str(ids::kToggleAttachments));
    u.attachmentList->setAccessibleName(str(ids::kAttachmentList));
    u.deleteAttachmentButton->setAccessibleName(str(ids::kMainButtonDelete));
    m_statusLine->setAccessibleName(str(ids::kProgressStatus));
    for (QLabel* l : {u.senderAddressLabel, u.senderNameLabel, u.recipientLabel, u.subjectLabel})
        l->setAccessibleName(l->text());
}

QAction* CPZPtestDlg::commandAction(int id) const {
    const QList<QAction*> all = findChildren<QAction*>();
    for (QAction* a : all) {
        if (a->property(kCommandProperty).toInt() == id)
            return a;
    }
    return nullptr;
}

void CPZPtestDlg::setCommandHandler(int id, std::function<void()> handler) {
    QAction* a = commandAction(id);
    if (!a || !handler)
        return;
    a->setProperty(kHandledProperty, true);
    connect(a, &QAction::triggered, this, [this, id, handler = std::move(handler)] {
        if (!m_runState.refuses(id, m_session.ui()))
            handler();
    });
    a->setEnabled(true);
    UpdateEnablement();
    ApplyRunLock();
}

void CPZPtestDlg::ApplyRunLock() {
    const bool running = m_runState.running();
    for (int id : CRunState::lockedCommands()) {
        if (QAction* a = commandAction(id))
            a->setEnabled(!running && a->property(kHandledProperty).toBool());
    }
}

void CPZPtestDlg::ConnectOwnCommands() {
    const auto on = [this](int id, void (CPZPtestDlg::*slot)()) {
        QAction* a = commandAction(id);
        a->setProperty(kHandledProperty, true);
        connect(a, &QAction::triggered, this, [this, id, slot] {
            if (!m_runState.refuses(id, m_session.ui()))
                (this->*slot)();
        });
    };
    on(cmd::kNew, &CPZPtestDlg::OnNew);
    on(cmd::kOpen, &CPZPtestDlg::OnOpen);
    on(cmd::kSave, &CPZPtestDlg::OnSave);
    on(cmd::kSaveAs, &CPZPtestDlg::OnSaveAs);
    on(cmd::kSend, &CPZPtestDlg::OnSend);
    on(cmd::kOpenLogFile, &CPZPtestDlg::OnOpenLogFile);
    on(cmd::kDeleteHtmlTemplate, &CPZPtestDlg::OnDeleteHtmlTemplate);
    on(cmd::kAddAttachment, &CPZPtestDlg::OnAddAttachment);
    on(cmd::kDeleteFile, &CPZPtestDlg::OnDeleteAttachments);
    on(cmd::kPageSetting, &CPZPtestDlg::OnPageSetting);
    on(cmd::kPrint, &CPZPtestDlg::OnPrint);
    on(cmd::kDefaultDatabase, &CPZPtestDlg::OnDefaultDatabase);
    on(cmd::kClearDatabase, &CPZPtestDlg::OnClearDatabase);
    on(cmd::kManual, &CPZPtestDlg::OnManual);
    on(cmd::kAbout, &CPZPtestDlg::OnAbout);
    for (int id : {cmd::kUndo, cmd::kCut, cmd::kCopy, cmd::kPaste, cmd::kDelete, cmd::kSelectAll}) {
        QAction* a = commandAction(id);
        a->setProperty(kHandledProperty, true);
        connect(a, &QAction::triggered, this, [this, id] { OnEditCommand(id); });
    }
    QAction* exit = commandAction(cmd::kExit);
    exit->setProperty(kHandledProperty, true);
    // the close request goes through the event loop, as the window's close box does
    connect(exit, &QAction::triggered, this, &QWidget::close);

    connect(m_ui->sendButton, &QPushButton::clicked, commandAction(cmd::kSend), &QAction::trigger);
    connect(m_ui->previewButton, &QPushButton::clicked, commandAction(cmd::kPreview),
            &QAction::trigger);
    connect(m_ui->testButton, &QPushButton::clicked, this, &CPZPtestDlg::OnTest);
    connect(m_ui->deleteAttachmentButton, &QPushButton::clicked, this,
            &CPZPtestDlg::OnDeleteAttachments);
    connect(m_ui->headerToggle, &QToolButton::clicked, this, &CPZPtestDlg::ToggleHeader);
    connect(m_ui->attachmentToggle, &QToolButton::clicked, this, &CPZPtestDlg::ToggleAttachments);
}

void CPZPtestDlg::setLauncher(Launcher launcher) {
    m_launcher = std::move(launcher);
}

bool CPZPtestDlg::Launch(const QUrl& url) {
    if (m_launcher)
        return m_launcher(url);
    openWithDesktop(this, url, [this, url] {
        const QString shown =
            url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString();
        inform(m_session.ui(), str(ids::kCannotOpenFile).arg(shown));
    });
    return true;
}

// ---------------------------------------------------------------------------------------
// Start, title, placement

void CPZPtestDlg::UpdateTitle(const QString& documentName) {
    setWindowTitle(QStringLiteral("%1 - %2[*]").arg(productName(), documentName));
    setWindowModified(m_session.document().modified);
}

bool CPZPtestDlg::event(QEvent* e) {
    // The document is prepared after the window is first on screen, so that start-up feels
    // immediate; a queued call runs once the first paint is through.
    if (e->type() == QEvent::Paint && m_firstPaint) {
        m_firstPaint = false;
        QTimer::singleShot(0, this, &CPZPtestDlg::DeferredStart);
    }
    return QMainWindow::event(e);
}

void CPZPtestDlg::DeferredStart() {
    // told once at start; the file is left as it is and no run starts until it can be read
    if (const Settings& s = m_session.settings(); !s.fileFailure.isEmpty())
        inform(m_session.ui(), str(ids::kSettingsUnreadableAtStart)
                                   .arg(QDir::toNativeSeparators(s.filePath), s.fileFailure));
    m_session.OfferRecovery();
    // A project named on the command line replaces the fresh document; one that cannot be
    // opened (the user has been told) leaves the program on a fresh document instead.
    if (!m_projectFile.isEmpty() && m_session.OpenProjectFile(m_projectFile)) {
        ShowInWindow();
        ShowHtmlMail();
        SetModified(false);
        UpdateTitle(QFileInfo(m_projectFile).fileName());
        UpdateDocumentState();
        emit started();
        return;
    }
    if (m_session.PrepareFreshDocument() == CAppSession::FreshResult::EndProcess) {
        QApplication::exit(0);
        return;
    }
    AfterFreshDocument();
    emit started();
    if (m_startHook) {
        // Getting Started comes once the window is up and its document is ready
        QTimer::singleShot(0, this, [this] {
            if (isVisible() && !m_abandoned && !m_startHook())
                Abandon();
        });
    }
}

void CPZPtestDlg::Abandon() {
    m_abandoned = true;
    m_session.Abandon();
    if (m_logWindow)
        m_logWindow->hide();
    close();
}

void CPZPtestDlg::AfterFreshDocument() {
    MailDocument& doc = m_session.document();
    // the sender stays what the fields hold
    doc.senderAddress = m_ui->senderAddress->text();
    doc.senderName = m_ui->senderName->text();
    ShowInWindow();
    ShowHtmlMail();
    m_ui->mailTabs->setCurrentIndex(0);
    commandAction(cmd::kDefaultDatabase)->setChecked(m_session.DefaultDatabaseOpen());
    doc.modified = false;
    UpdateTitle(str(ids::kUntitled));
    UpdateDocumentState();
}

WindowPlacement CPZPtestDlg::CurrentPlacement() const {
    WindowPlacement p;
    // The position of the frame and the size inside it: what RestorePlacement gives to
    // move() and resize(). The frame's outer size would make the window grow by its frame
    // at every start.
    const QRect inner = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    const QPoint frameEdge = geometry().topLeft() - pos();
    p.rect = inner.isValid() ? QRect(inner.topLeft() - frameEdge, inner.size()) : geometry();
    p.showCommand = isMaximized() ? 3 : isMinimized() ? 2 : 1;
    return p;
}

void CPZPtestDlg::RestorePlacement() {
    setMinimumSize(m_minimumFrame->size());
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize(1024, 768);
    const QRect r = RestoreRect(m_session.LoadPlacementText(QStringLiteral("MainForm")), size);
    move(r.topLeft());
    resize(r.size().expandedTo(minimumSize()));
}

void CPZPtestDlg::closeEvent(QCloseEvent* event) {
    if (m_abandoned) {
        event->accept();
        return;
    }
    if (SendRunActive()) {
        // a run is never cut off unasked; once cancelled, the close goes on when it has ended
        if (ask(m_session.ui(), str(ids::kRunInProgressClose), MessageKind::YesNo) != Answer::Yes) {
            event->ignore();
            return;
        }
        m_closeAfterRun = true;
        CancelSendRun();
        event->ignore();
        return;
    }
    TakeFromWindow();
    const auto result = m_session.Close(
        DocumentModified(),
        [this] {
            const QString path = m_session.document().projectFilePath;
            return path.isEmpty() ? SaveProjectAs(QString()) : SaveProjectTo(path);
        },
        {}, [this] { KeepRunOutcomes(); });
    if (result == CAppSession::CloseResult::Cancelled) {
        event->ignore();
        return;
    }
    // the working copy with the run's outcomes is gone, or kept for the next start
    ReleaseRunMarker();
    m_session.SavePlacement(QStringLiteral("MainForm"), CurrentPlacement());
    if (m_logWindow)
        m_logWindow->hide();  // not closed: that would switch "LogView" off
    event->accept();
}

// ---------------------------------------------------------------------------------------
// Keys, focus, enablement

bool CPZPtestDlg::eventFilter(QObject* watched, QEvent* e) {
    // Files dragged onto a text field are attachments, as on the rest of the window; the
    // fields would take them as their file:// URLs. Other drags (text, web links) stay theirs.
    if (e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove ||
        e->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(e);
        const QStringList files = droppedFiles(drop->mimeData());
        if (files.isEmpty())
            return QMainWindow::eventFilter(watched, e);
        drop->acceptProposedAction();
        if (e->type() == QEvent::Drop)
            (void)AddAttachments(files);
        return true;
    }
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        const bool body = watched == m_ui->textBody;
        if (!isModifierOnly(k) && !k->matches(QKeySequence::Copy) && k->key() != Qt::Key_Escape &&
            k->key() != Qt::Key_Tab && k->key() != Qt::Key_Backtab)
            SetModified(true);
        // the body takes Enter as a line break; everywhere else Enter and Esc do nothing
        if (isEnterOrEscape(k) && !(body && k->key() != Qt::Key_Escape))
            return true;
    } else if (e->type() == QEvent::KeyRelease || e->type() == QEvent::MouseButtonRelease) {
        UpdateEnablement();
    }
    return QMainWindow::eventFilter(watched, e);
}

QLineEdit* CPZPtestDlg::headerEdit(int index) const {
    switch (index) {
        case 0:
            return m_ui->senderAddress;
        case 1:
            return m_ui->senderName;
        case 2:
            return m_ui->recipient;
        default:
            return m_ui->subject;
    }
}

void CPZPtestDlg::UpdateEnablement() {
    QWidget* last = m_lastFocused;
    const bool inBody = last == m_ui->textBody;
    for (int id : {cmd::kAutoLine, cmd::kAutoFrame}) {
        QAction* a = commandAction(id);
        a->setEnabled(inBody && a->property(kHandledProperty).toBool());
    }
    bool undo = false, selection = false, hasText = false;
    if (auto* edit = qobject_cast<QLineEdit*>(last)) {
        undo = edit->isUndoAvailable();
        selection = edit->hasSelectedText();
        hasText = !edit->text().isEmpty();
    } else if (inBody) {
        undo = m_ui->textBody->document()->isUndoAvailable();
        selection = m_ui->textBody->textCursor().hasSelection();
        hasText = !m_ui->textBody->document()->isEmpty();
    }
    commandAction(cmd::kUndo)->setEnabled(undo);
    commandAction(cmd::kCut)->setEnabled(selection);
    commandAction(cmd::kCopy)->setEnabled(selection);
    commandAction(cmd::kDelete)->setEnabled(selection);
    commandAction(cmd::kSelectAll)->setEnabled(hasText);
    const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
    commandAction(cmd::kPaste)->setEnabled(last && clip && clip->hasText());
    const bool hasAttachments = m_ui->attachmentList->count() > 0;
    commandAction(cmd::kDeleteFile)->setEnabled(hasAttachments);
    m_ui->deleteAttachmentButton->setEnabled(hasAttachments);
}

void CPZPtestDlg::OnEditCommand(int id) {
    QWidget* last = m_lastFocused;
    if (auto* edit = qobject_cast<QLineEdit*>(last)) {
        switch (id) {
            case cmd::kUndo:
                edit->undo();
                break;
            case cmd::kCut:
                edit->cut();
                break;
            case cmd::kCopy:
                edit->copy();
                break;
            case cmd::kPaste:
                edit->paste();
                break;
            case cmd::kDelete:
                edit->del();
                break;
            case cmd::kSelectAll:
                edit->selectAll();
                break;
        }
        if (id != cmd::kCopy && id != cmd::kSelectAll)
            SetModified(true);
    } else if (last == m_ui->textBody) {
        QPlainTextEdit* body = m_ui->textBody;
        switch (id) {
            case cmd::kUndo:
                body->undo();
                break;
            case cmd::kCut:
                body->cut();
                break;
            case cmd::kCopy:
                body->copy();
                break;
            case cmd::kPaste:
                body->paste();
                break;
            case cmd::kDelete:
                body->textCursor().removeSelectedText();
                break;
            case cmd::kSelectAll:
                body->selectAll();
                body->ensureCursorVisible();
                break;
        }
    }
    UpdateEnablement();
}

// ---------------------------------------------------------------------------------------
// The document in the window

QPlainTextEdit* CPZPtestDlg::textBody() const {
    return m_ui->textBody;
}

void CPZPtestDlg::TakeFromWindow() {
    MailDocument& d = m_session.document();
    d.senderAddress = m_ui->senderAddress->text();
    d.senderName = m_ui->senderName->text();
    d.recipientText = m_ui->recipient->text();
    d.subject = m_ui->subject->text();
    d.textBody = m_ui->textBody->toPlainText();
    // the sender is also what the next session starts with
    m_session.settings().server.from = d.senderAddress;
    m_session.settings().server.name = d.senderName;
}

void CPZPtestDlg::ShowInWindow() {
    const MailDocument& d = m_session.document();
    m_showing = true;
    m_ui->senderAddress->setText(d.senderAddress);
    m_ui->senderName->setText(d.senderName);
    m_ui->recipient->setText(d.recipientText);
    m_ui->subject->setText(d.subject);
    m_ui->textBody->setPlainText(d.textBody);
    m_showing = false;
    RefreshAttachmentList();
}

void CPZPtestDlg::SetModified(bool modified) {
    if (m_showing)
        return;
    m_session.document().modified = modified;
    setWindowModified(modified);
}

bool CPZPtestDlg::DocumentModified() const {
    return m_session.document().modified;
}

void CPZPtestDlg::InsertIntoLastFocusedField(const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(m_lastFocused.data())) {
        edit->insert(text);
        SetModified(true);
    } else if (m_lastFocused == m_ui->textBody) {
        m_ui->textBody->insertPlainText(text);
    }
}

void CPZPtestDlg::RefreshAttachmentList() {
    QListWidget* list = m_ui->attachmentList;
    list->clear();
    list->addItems(m_session.document().attachments);
    UpdateStatusLine();
    UpdateEnablement();
}

QStringList CPZPtestDlg::Attachments() const {
    return m_session.document().attachments;
}

bool CPZPtestDlg::AddAttachments(const QStringList& paths) {
    bool allAdded = true;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            inform(m_session.ui(), str(ids::kDroppedFolder).arg(QDir::toNativeSeparators(path)));
            allAdded = false;
            continue;
        }
        if (!info.isFile()) {
            inform(m_session.ui(), str(ids::kAttachmentsMissing).arg(path));
            allAdded = false;
            continue;
        }
        m_session.document().attachments.append(info.absoluteFilePath());
    }
    SetModified(true);
    RefreshAttachmentList();
    return allAdded;
}

void CPZPtestDlg::UpdateStatusLine() {
    db::TDbData& store = m_session.store();
    QString text = str(ids::kStatusFieldLength).arg(store.StringFieldLength());
    const int records = store.IsOpen() ? store.Records().CountRecords() : 0;
    if (records > 0)
        text += records == 1 ? str(ids::kStatusOneItem) : str(ids::kStatusItems).arg(records);
    const qsizetype attachments = m_session.document().attachments.size();
    if (attachments > 0)
        text += attachments == 1 ? str(ids::kStatusOneAttachment)
                                 : str(ids::kStatusAttachments).arg(attachments);
    const qsizetype htmlFiles =
        m_session.document().isHtmlMail() ? m_session.document().pictureList.size() : 0;
    if (htmlFiles > 0)
        text += htmlFiles == 1 ? str(ids::kStatusOneHtmlFile)
                               : str(ids::kStatusHtmlFiles).arg(htmlFiles);
    m_statusLine->setText(text.trimmed());
}

void CPZPtestDlg::UpdateDocumentState() {
    // the saved project this window shows is marked, for a run the timer starts meanwhile
    const QString& project = m_session.document().projectFilePath;
    if (project.isEmpty())
        m_openMark.reset();
    else if (!m_openMark || m_openMark->project() != project)
        m_openMark = CProjectOpenMark::hold(m_session.folders().workingCopyFolder, project);
    const bool html = m_session.document().isHtmlMail();
    QAction* edit = commandAction(cmd::kEditHtmlTemplate);
    edit->setEnabled(html && edit->property(kHandledProperty).toBool());
    commandAction(cmd::kDeleteHtmlTemplate)->setEnabled(html);
    UpdateStatusLine();
    UpdateEnablement();
}

void CPZPtestDlg::UpdateWrapItem() {
    commandAction(cmd::kAutoWrap)->setVisible(m_session.settings().wrap == 1);
}

void CPZPtestDlg::ToggleHeader() {
    m_headerCollapsed = !m_headerCollapsed;
    for (QWidget* w :
         {static_cast<QWidget*>(m_ui->senderAddressLabel),
          static_cast<QWidget*>(m_ui->senderAddress), static_cast<QWidget*>(m_ui->senderNameLabel),
          static_cast<QWidget*>(m_ui->senderName), static_cast<QWidget*>(m_ui->recipientLabel),
          static_cast<QWidget*>(m_ui->recipient)})
        w->setVisible(!m_headerCollapsed);
    m_ui->headerToggle->setText(str(m_headerCollapsed ? ids::kExpand : ids::kCollapse));
}

void CPZPtestDlg::ToggleAttachments() {
    m_attachmentsCollapsed = !m_attachmentsCollapsed;
    m_ui->attachmentList->setVisible(!m_attachmentsCollapsed);
    m_ui->deleteAttachmentButton->setVisible(!m_attachmentsCollapsed);
    m_ui->attachmentToggle->setText(str(m_attachmentsCollapsed ? ids::kExpand : ids::kCollapse));
}

// ---------------------------------------------------------------------------------------
// Drag and drop

QStringList CPZPtestDlg::droppedFiles(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

void CPZPtestDlg::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls())
        e->acceptProposedAction();
}

void CPZPtestDlg::dropEvent(QDropEvent* e) {
    const QStringList paths = droppedFiles(e->mimeData());
    if (paths.isEmpty())
        return;
    e->acceptProposedAction();
    (void)AddAttachments(paths);
}

}  // namespace pw::app
