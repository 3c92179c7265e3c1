#pragma once
// The real main window in a private world: its folders, a settings file the test writes, a
// scripted user, the launcher recorded instead of the desktop's, and helpers that answer the
// modal dialogs the window opens.

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <functional>
#include <memory>

#include "AppTestFolders.h"
#include "RawStatement.h"
#include "ScriptedUserInteraction.h"
#include "SmtpTestServer.h"
#include "TestEnv.h"
#include "app/AppSession.h"
#include "app/Commands.h"
#include "app/IniFile.h"
#include "app/gui/CPZPtestDlg.h"

namespace pw::test {

class MainWindowFixture {
public:
    // settingsText: "[SETUP]" keys written before the window reads them. Getting Started is
    // switched off unless the text names "StartShortcut", so that no test meets it unasked
    // (it would come up inside whatever modal dialog the test opens first).
    explicit MainWindowFixture(QByteArray settingsText = "[SETUP]\r\n")
        : folders(appFoldersIn(env)), settingsPath(folders.settingsPath("postwick")) {
        QDir().mkpath(folders.userDataFolder);
        if (settingsText.startsWith("[SETUP]\r\n") && !settingsText.contains("StartShortcut="))
            settingsText.insert(int(qstrlen("[SETUP]\r\n")), "StartShortcut=0\r\n");
        // the check before sending asks a name server: the tests that want it turn it on
        if (settingsText.startsWith("[SETUP]\r\n") &&
            !settingsText.contains("CheckBeforeSending=")) {
            qsizetype end = settingsText.indexOf("\r\n[", 7);
            end = end < 0 ? settingsText.size() : end + 2;
            if (end == settingsText.size() && !settingsText.endsWith('\n')) {
                settingsText += "\r\n";
                end += 2;
            }
            settingsText.insert(int(end), "CheckBeforeSending=0\r\n");
        }
        if (!settingsText.isEmpty())
            (void)writeFile(settingsPath, settingsText);
        session = std::make_unique<app::CAppSession>(folders, settingsPath, ui);
        (void)session->Start();
    }
    ~MainWindowFixture() {
        if (window) {
            ui.script({Answer::No, Answer::No});  // no save, no question left unanswered
            window->close();
        }
    }

    // Makes and shows the window; false when the fresh document did not come.
    [[nodiscard]] bool open(const QString& projectFile = {}) {
        window = std::make_unique<app::CPZPtestDlg>(*session, projectFile);
        window->setLauncher([this](const QUrl& url) {
            launched.append(url);
            return true;
        });
        QSignalSpy started(window.get(), &app::CPZPtestDlg::started);
        window->show();
        return started.wait(30000);
    }

    template <typename T>
    [[nodiscard]] T* find(const char* name) const {
        return window->findChild<T*>(QLatin1String(name));
    }
    [[nodiscard]] QAction* command(int id) const { return window->commandAction(id); }

    // The title as the window system shows it ("[*]" resolved).
    [[nodiscard]] QString shownTitle() const {
        QString t = window->windowTitle();
        t.replace(QStringLiteral("[*]"), window->isWindowModified() ? QStringLiteral("*") : "");
        return t;
    }

    // Runs `act` on the next modal dialog of this object name as soon as it is up. The watch
    // ends with it, after a minute, or when the returned timer is deleted.
    static QPointer<QTimer> whenModal(const QString& name, std::function<void(QWidget*)> act) {
        auto* timer = new QTimer;
        timer->setInterval(20);
        QTimer::singleShot(60000, timer, [timer] { timer->deleteLater(); });
        QObject::connect(timer, &QTimer::timeout, [timer, name, act] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || w->objectName() != name)
                return;
            timer->stop();
            timer->deleteLater();
            act(w);
        });
        timer->start();
        return timer;
    }
    // The Transmission dialog: the radio button of that name, then OK (or Cancel).
    static QPointer<QTimer> answerTransmission(const char* choice = "sendToAll", bool ok = true) {
        return whenModal(QStringLiteral("d_Transmission"), [choice, ok](QWidget* d) {
            if (auto* b = d->findChild<QAbstractButton*>(QLatin1String(choice)))
                b->setChecked(true);
            auto* button = d->findChild<QPushButton*>(ok ? "okButton" : "cancelButton");
            if (button)
                button->click();
        });
    }

    // Adds recipients straight into the working database.
    void addRecipients(int count, const QString& domain = QStringLiteral("example.com")) {
        for (int i = 1; i <= count; ++i) {
            pw::test::execute(
                session->store(),
                QStringLiteral("insert into MAILS (ID, SENDED, SENDING, ADDRESS, NAME) values "
                               "(%1, 0, 1, 'r%1@%2', 'Person %1')")
                    .arg(i)
                    .arg(domain));
        }
        (void)session->store().Save(db::SaveMode::Retaining);
    }

    // Sets the header fields as a user types them.
    void type(const char* field, const QString& text) {
        auto* edit = find<QLineEdit>(field);
        edit->setFocus();
        edit->selectAll();
        edit->del();
        // one key event per character, as a keyboard (or an input method) delivers them
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(edit, &press);
            QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(edit, &release);
        }
    }

    TestEnv env;
    app::AppFolders folders;
    QString settingsPath;
    ScriptedUserInteraction ui;
    std::unique_ptr<app::CAppSession> session;
    std::unique_ptr<app::CPZPtestDlg> window;
    QList<QUrl> launched;
};

// A settings file for sending to a server on loopback.
inline QByteArray sendingSettings(quint16 port, const QByteArray& more = {}) {
    return "[SETUP]\r\nSMTPServer=127.0.0.1\r\nSMTPPort=" + QByteArray::number(port) +
           "\r\nSMTPAuthType=0\r\nSMTPConnectionType=0\r\nSendContinue=1\r\nFrom=news@shop.example"
           "\r\nName=Shop\r\nStartShortcut=0\r\n" +
           more;
}

// The messages a capturing server wrote, as files "<n>.eml".
inline QStringList capturedMessages(const QString& folder) {
    QStringList files = QDir(folder).entryList({"*.eml"}, QDir::Files);
    for (QString& f : files)
        f = folder + f;
    return files;
}

}  // namespace pw::test
