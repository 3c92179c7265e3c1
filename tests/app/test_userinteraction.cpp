// The Qt front end of the user-interaction interface on real widgets, and the scripted
// responder the other tests rely on.
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "ScriptedUserInteraction.h"
#include "app/gui/DesktopLauncher.h"
#include "app/gui/QtUserInteraction.h"

using namespace pw;

namespace {

// Runs `act` on the next modal window that opens.
void onNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start(10);
}

}  // namespace

class TestUserInteraction : public QObject {
    Q_OBJECT
private slots:
    void choiceReturnsThePressedButton_data() {
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("expected");
        QTest::newRow("default button by Enter") << QString() << 0;
        QTest::newRow("second button") << QStringLiteral("choice1") << 1;
        QTest::newRow("escape") << QStringLiteral("escape") << 1;
    }
    void choiceReturnsThePressedButton() {
        QFETCH(QString, press);
        QFETCH(int, expected);
        app::QtUserInteraction ui;
        onNextModal([press](QWidget* w) {
            QCOMPARE(w->objectName(), QStringLiteral("choiceBox"));
            if (press.isEmpty())
                QTest::keyClick(w, Qt::Key_Return);
            else if (press == QLatin1String("escape"))
                QTest::keyClick(w, Qt::Key_Escape);
            else
                w->findChild<QPushButton*>(press)->click();
        });
        const int got = ui.choose({QStringLiteral("Postwick"),
                                   QStringLiteral("Done."),
                                   {QStringLiteral("View Log"), QStringLiteral("OK")},
                                   0,
                                   1,
                                   ChoiceIcon::Information});
        QCOMPARE(got, expected);
    }

    void okCancelAnswers() {
        app::QtUserInteraction ui;
        onNextModal([](QWidget* w) {
            // a provider's or server's words never render as markup
            QCOMPARE(qobject_cast<QMessageBox*>(w)->textFormat(), Qt::PlainText);
            QTest::keyClick(w, Qt::Key_Escape);
        });
        QCOMPARE(ui.message(QStringLiteral("c"), QStringLiteral("<b>t</b>"), MessageKind::OkCancel),
                 Answer::Cancel);
        onNextModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); });
        QCOMPARE(ui.message(QStringLiteral("c"), QStringLiteral("t"), MessageKind::OkCancel),
                 Answer::Ok);
    }

    void fileChooserReturnsTheTypedFileOrNothing() {
        QTemporaryDir dir;
        app::QtUserInteraction ui;
        FileRequest save{FileChoice::SaveFile, QStringLiteral("Save As"), dir.path(),
                         QStringLiteral("Projects (*.pzy)"), QStringLiteral("pzy")};
        onNextModal([](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            QVERIFY(dialog);
            // typed, as a user would: selectFile() is ignored once the name box has the focus
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(QStringLiteral("mail"));
            QMetaObject::invokeMethod(dialog, "accept");
            if (dialog->isVisible())
                dialog->reject();  // fail the comparison below rather than hang
        });
        const QStringList chosen = ui.chooseFiles(save);
        QCOMPARE(chosen, QStringList{dir.filePath(QStringLiteral("mail.pzy"))});
        onNextModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
        QVERIFY(ui.chooseFiles(save).isEmpty());
    }

    // The picture under the cursor is shown with its size; a damaged one shows nothing.
    void pictureChooserShowsThePictureUnderTheCursor() {
        QTemporaryDir dir;
        QImage wide(200, 100, QImage::Format_RGB32);
        wide.fill(Qt::darkCyan);
        QVERIFY(wide.save(dir.filePath(QStringLiteral("wide.png"))));
        QFile damaged(dir.filePath(QStringLiteral("damaged.png")));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("\x89PNG\r\n\x1a\n not really");
        damaged.close();
        app::QtUserInteraction ui;
        FileRequest open{FileChoice::OpenFile,
                         QStringLiteral("Open"),
                         dir.path(),
                         QStringLiteral("Pictures (*.png)"),
                         {},
                         FilePreview::Picture};
        QString shownSize, shownAfterDamaged;
        QSize pictureSize;
        bool cleared = false;
        bool found = false;
        onNextModal([&](QWidget* w) {
            // no QVERIFY in here: a failure would leave the chooser open and the test hanging
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (dialog == nullptr) {
                qobject_cast<QDialog*>(w)->reject();
                return;
            }
            auto* size = dialog->findChild<QLabel*>(QStringLiteral("pictureSize"));
            auto* picture = dialog->findChild<QLabel*>(QStringLiteral("picturePreview"));
            found = size && picture;
            if (found) {
                emit dialog->currentChanged(dir.filePath(QStringLiteral("wide.png")));
                shownSize = size->text();
                pictureSize = picture->pixmap().size();
                emit dialog->currentChanged(dir.filePath(QStringLiteral("damaged.png")));
                shownAfterDamaged = size->text();
                cleared = picture->pixmap().isNull();
            }
            // typed, as a user would: selectFile() leaves a focused name box alone
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(QStringLiteral("wide.png"));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QCOMPARE(ui.chooseFiles(open), QStringList{dir.filePath(QStringLiteral("wide.png"))});
        QVERIFY(found);
        QCOMPARE(shownSize, QStringLiteral("200X100"));
        QCOMPARE(pictureSize, QSize(160, 80));  // fitted down, shape kept
        QCOMPARE(shownAfterDamaged, QStringLiteral("Picture:"));
        QVERIFY(cleared);
    }

    void progressCancelIsStickyAndTold() {
        app::QtUserInteraction ui;
        auto progress = ui.createProgress();
        int told = 0;
        progress->setCancellable([&] { ++told; });
        progress->show();
        QVERIFY(!progress->cancelRequested());
        QPushButton* cancel = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (!cancel)
                cancel = w->findChild<QPushButton*>(QStringLiteral("progressCancel"));
        QVERIFY(cancel);
        QVERIFY2(cancel->isVisible(), qPrintable(cancel->window()->objectName()));
        cancel->click();
        QVERIFY(progress->cancelRequested());
        progress->setPosition(3);
        QVERIFY(progress->cancelRequested());
        QCOMPARE(told, 1);
    }

    // The desktop's opener as xdg-open ends: a missing program is told, an opened page is not.
    void desktopOpenerFailureIsTold_data() {
        QTest::addColumn<QByteArray>("opener");  // the xdg-open on PATH; empty: none runs
        QTest::addColumn<bool>("told");
        QTest::newRow("opened") << QByteArray("#!/bin/sh\nexit 0\n") << false;
        QTest::newRow("no program for it") << QByteArray("#!/bin/sh\nexit 3\n") << true;
        QTest::newRow("its program failed") << QByteArray("#!/bin/sh\nexit 4\n") << true;
        QTest::newRow("opener cannot start") << QByteArray("#!/nonexistent/sh\n") << true;
    }
    void desktopOpenerFailureIsTold() {
        QFETCH(QByteArray, opener);
        QFETCH(bool, told);
        QTemporaryDir bin;
        QFile script(bin.filePath("xdg-open"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(opener);
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toUtf8() + ':' + path);
        QObject owner;
        int failures = 0;
        pw::app::openWithDesktop(&owner, QUrl::fromLocalFile(bin.filePath("manual.html")),
                                 [&] { ++failures; });
        qputenv("PATH", path);
        // the opener's end, whatever it was, deletes its process
        QTRY_VERIFY(owner.findChildren<QProcess*>().isEmpty());
        QCOMPARE(failures, told ? 1 : 0);
    }

    void scriptedResponderFollowsItsScript() {
        test::ScriptedUserInteraction ui;
        ui.scriptChoices({QStringLiteral("View Log")});
        ui.scriptFiles({{QStringLiteral("/tmp/a.csv")}});
        ui.cancelProgressAt(2);
        const ChoiceRequest r{QStringLiteral("c"),
                              QStringLiteral("Done."),
                              {QStringLiteral("OK"), QStringLiteral("View Log")},
                              0,
                              0,
                              ChoiceIcon::Information};
        QCOMPARE(ui.choose(r), 1);
        QCOMPARE(ui.choose(r), 0);  // script used up: the default button
        QCOMPARE(ui.chooseFiles({}), QStringList{QStringLiteral("/tmp/a.csv")});
        QVERIFY(ui.chooseFiles({}).isEmpty());
        QCOMPARE(ui.askedTexts(), (QStringList{QStringLiteral("Done."), QStringLiteral("Done.")}));
        QCOMPARE(ui.message({}, {}, MessageKind::OkCancel), Answer::Ok);

        auto progress = ui.createProgress();
        bool told = false;
        progress->setCancellable([&] { told = true; });
        progress->setPosition(1);
        QVERIFY(!progress->cancelRequested());
        progress->setPosition(2);
        QVERIFY(progress->cancelRequested() && told);
    }
};

QTEST_MAIN(TestUserInteraction)
#include "test_userinteraction.moc"
