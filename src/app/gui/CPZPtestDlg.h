#pragma once
// The main window. For now a shell: title, the File menu with Exit, and the start and close
// of the session; the composition area and the command set come later.

#include <QMainWindow>

#include "app/AppSession.h"

class QMenu;

namespace pw::app {

class CPZPtestDlg : public QMainWindow {
    Q_OBJECT
public:
    // projectFile: a path named on the command line, opened at the first paint.
    CPZPtestDlg(CAppSession& session, QString projectFile, QWidget* parent = nullptr);
    ~CPZPtestDlg() override;

    // The window title: display name " - " document name.
    void UpdateTitle(const QString& documentName);
    [[nodiscard]] bool DocumentModified() const { return m_modified; }

signals:
    // The deferred start is done: a fresh document and a working database exist.
    void started();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* e) override;

private:
    void DeferredStart();
    void RestorePlacement();
    [[nodiscard]] WindowPlacement CurrentPlacement() const;

    CAppSession& m_session;
    QString m_projectFile;
    bool m_firstPaint = true;
    bool m_modified = false;
    QMenu* m_fileMenu = nullptr;
};

}  // namespace pw::app
