#include "app/gui/CPZPtestDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include "resources/Strings.h"

namespace pw::app {

CPZPtestDlg::CPZPtestDlg(CAppSession& session, QString projectFile, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_projectFile(std::move(projectFile)) {
    setObjectName(QStringLiteral("CPZPtestDlg"));
    m_fileMenu = menuBar()->addMenu(str(ids::kMenuFile));
    m_fileMenu->setObjectName(QStringLiteral("menuFile"));
    QAction* exit = m_fileMenu->addAction(str(ids::kMenuExit));
    exit->setObjectName(QStringLiteral("actionExit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    m_session.ReadSettingsFile();
    UpdateTitle(str(ids::kUntitled));
    RestorePlacement();
}

CPZPtestDlg::~CPZPtestDlg() = default;

void CPZPtestDlg::UpdateTitle(const QString& documentName) {
    setWindowTitle(QStringLiteral("%1 - %2").arg(productName(), documentName));
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
    m_session.OfferRecovery();
    // A project named on the command line replaces the fresh document; one that cannot be
    // opened (the user has been told) leaves the program on a fresh document instead.
    if (!m_projectFile.isEmpty() && m_session.OpenProjectFile(m_projectFile)) {
        UpdateTitle(QFileInfo(m_projectFile).fileName());
        emit started();
        return;
    }
    if (m_session.PrepareFreshDocument() == CAppSession::FreshResult::EndProcess) {
        QApplication::exit(0);
        return;
    }
    UpdateTitle(str(ids::kUntitled));
    emit started();
}

void CPZPtestDlg::closeEvent(QCloseEvent* event) {
    const auto result = m_session.Close(m_modified, {}, {});
    if (result == CAppSession::CloseResult::Cancelled) {
        event->ignore();
        return;
    }
    m_session.SavePlacement(QStringLiteral("MainForm"), CurrentPlacement());
    event->accept();
}

WindowPlacement CPZPtestDlg::CurrentPlacement() const {
    WindowPlacement p;
    p.rect = isMaximized() || isMinimized() ? normalGeometry() : frameGeometry();
    if (!p.rect.isValid())
        p.rect = geometry();
    p.showCommand = isMaximized() ? 3 : isMinimized() ? 2 : 1;
    return p;
}

void CPZPtestDlg::RestorePlacement() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize(1024, 768);
    const QRect r = RestoreRect(m_session.LoadPlacementText(QStringLiteral("MainForm")), size);
    move(r.topLeft());
    resize(r.size());
}

}  // namespace pw::app
