// Under a Japanese locale, set up as the program's start sets it up, every window of the
// program shows the Japanese texts of the string tables: the main window and the send
// windows, the database editor and its tools, the import windows, the template chooser, wizard and
// tools, the preview, the text tools, the settings dialogs and the grid printing. Each window is
// opened the way its command opens it where a command does; the few that need a picture or a
// workbook first are made directly. Qt's own dialogs and buttons are Japanese too.

#include <QAbstractItemModel>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QTableView>
#include <functional>

#include "JapaneseTexts.h"
#include "MainWindowFixture.h"
#include "RawStatement.h"
#include "WidgetTestSupport.h"
#include "app/Language.h"
#include "app/gui/BouncesWindow.h"
#include "app/gui/HistoryWindow.h"
#include "app/gui/SendWindows.h"
#include "app/gui/SettingsCommands.h"
#include "app/gui/SuppressionWindows.h"
#include "app/gui/d_ServerDatabase.h"
#include "app/gui/d_StartForm.h"
#include "app/gui/d_UserPreferences.h"
#include "compose/gui/TextToolDialogs.h"
#include "compose/gui/d_FormEdit.h"
#include "compose/gui/d_GraphicEdit.h"
#include "compose/gui/d_HTMLTempSelect.h"
#include "compose/gui/d_Preview.h"
#include "compose/gui/d_TextStyle.h"
#include "compose/gui/d_UrlSetting.h"
#include "dbtools/gui/AddR.h"
#include "dbtools/gui/EditorToolDialogs.h"
#include "dbtools/gui/d_EditDialog.h"
#include "dbtools/gui/d_FieldShow.h"
#include "dbtools/gui/d_FieldsNameEdit.h"
#include "dbtools/gui/d_Filtering.h"
#include "exchange/gui/ImportWindows.h"
#include "print/gui/CPrintDBGrid.h"
#include "print/gui/d_DBPrintSelectForm.h"
#include "print/gui/d_PrinterSetup.h"
#include "resources/Strings.h"
#include "send/SendProgress.h"
#include "serversettings/gui/d_AdvSettings.h"
#include "serversettings/gui/d_ServerSettings.h"
#include "smtp/SmtpLanguage.h"

using namespace pw;
using pw::test::MainWindowFixture;
using pw::test::notJapanese;
using Command = pw::dbtools::d_EditDialog::Command;

namespace {

// The modal dialogs a command opens, in turn: each is scanned when it comes up, then `then`
// runs on it (to reach the next window), then it is closed with Cancel unless `then` closed it.
class Scan {
public:
    template <typename T>
    Scan& modal(std::function<void(T*, QStringList&)> then = {}, QSet<QString> data = {}) {
        auto shown = std::make_shared<bool>(false);
        m_shown.emplace_back(QLatin1String(T::staticMetaObject.className()), shown);
        auto* timer = new QTimer;
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [this, timer, then, data, shown] {
            auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            timer->stop();
            *shown = true;
            m_wrong += notJapanese(dialog, data);
            if (then)
                then(dialog, m_wrong);
            if (dialog->isVisible())
                dialog->reject();
        });
        timer->start();
        m_timers.emplace_back(timer);
        return *this;
    }
    // Runs trigger; what was not Japanese, and every dialog that never came.
    [[nodiscard]] QStringList run(const std::function<void()>& trigger) {
        trigger();
        m_timers.clear();
        for (const auto& [name, shown] : m_shown) {
            if (!*shown)
                m_wrong << QStringLiteral("not shown: %1").arg(name);
        }
        return m_wrong;
    }

private:
    QStringList m_wrong;
    std::vector<std::pair<QString, std::shared_ptr<bool>>> m_shown;
    std::vector<std::unique_ptr<QTimer>> m_timers;
};

QString ja(int id) {
    return str(id, Language::Japanese);
}

void trigger(MainWindowFixture& f, int command) {
    f.command(command)->trigger();
}

template <typename T>
QStringList commandWindow(MainWindowFixture& f, int command, QSet<QString> data = {}) {
    return Scan().modal<T>({}, std::move(data)).run([&] { trigger(f, command); });
}

// Inside the editor, opened from the main window as "Edit DataBase..." opens it.
QStringList inEditor(MainWindowFixture& f,
                     const std::function<void(dbtools::d_EditDialog*, QStringList&)>& within) {
    return Scan()
        .modal<dbtools::d_EditDialog>([&](dbtools::d_EditDialog* editor, QStringList& wrong) {
            // the cursor on the name column, which holds a value twice
            editor->session().setCursor(0, 3);
            within(editor, wrong);
        })
        .run([&] { trigger(f, app::cmd::kEditDatabase); });
}

template <typename T>
QStringList editorCommand(MainWindowFixture& f, Command command, QSet<QString> data = {}) {
    return inEditor(f, [&](dbtools::d_EditDialog* editor, QStringList& wrong) {
        wrong += Scan().modal<T>({}, data).run([&] { editor->run(command); });
    });
}

struct Window {
    const char* name;
    std::function<QStringList(MainWindowFixture&)> scan;
};

const std::vector<Window>& windows() {
    using namespace pw::app;
    static const std::vector<Window> list{
        // first, before any command has given the window a document
        {"main window",
         [](MainWindowFixture& f) {
             QStringList wrong = notJapanese(f.window.get());
             if (f.shownTitle() != QStringLiteral("Postwick - 無題"))
                 wrong << "title: " + f.shownTitle();
             const QString status = f.find<QLabel>("mainStatusLine")->text();
             if (!status.startsWith(QStringLiteral("フィールドの設定長は")))
                 wrong << "status line: " + status;
             return wrong;
         }},
        {"send windows",
         [](MainWindowFixture& f) {
             CTransmissionDialog transmission;
             send::CSendProgressRelay relay(f.ui);
             CSendProgressForm progress(relay, {});
             CLogWindow log({});
             QStringList wrong =
                 notJapanese(&transmission) + notJapanese(&progress) + notJapanese(&log);
             if (progress.windowTitle() != ja(ids::kSendCaption) ||
                 log.windowTitle() != QStringLiteral("ログ"))
                 wrong << "titles: " + progress.windowTitle() + " " + log.windowTitle();
             return wrong;
         }},
        {"Qt's own buttons",
         [](MainWindowFixture&) {
             QStringList wrong;
             if (!installQtTranslations())
                 wrong << "Qt's translations not installed";
             for (const auto& [english, japanese] :
                  {std::pair{"Cancel", "キャンセル"}, std::pair{"Save", "保存"}}) {
                 const QString shown = QCoreApplication::translate("QPlatformTheme", english);
                 if (shown != QString::fromUtf8(japanese))
                     wrong << english + QStringLiteral(": ") + shown;
             }
             return wrong;
         }},
        {"database editor",
         [](MainWindowFixture& f) {
             return inEditor(f, [](dbtools::d_EditDialog* editor, QStringList& wrong) {
                 const QAbstractItemModel* grid =
                     test::child<QTableView>(editor, "grid1043")->model();
                 const QString sent = grid->headerData(0, Qt::Horizontal).toString();
                 const QString select = grid->headerData(1, Qt::Horizontal).toString();
                 if (sent != ja(ids::kGridSent) || select != ja(ids::kGridSelect))
                     wrong << "flag headers: " + sent + " " + select;
             });
         }},
        {"Data Filtering",
         [](MainWindowFixture& f) {
             // the value list holds the records' values
             return editorCommand<dbtools::d_Filtering>(f, Command::FilterOn, {"text1094"});
         }},
        {"record form",
         [](MainWindowFixture& f) { return editorCommand<dbtools::AddR>(f, Command::AddRecord); }},
        {"Find Duplicate Data",
         [](MainWindowFixture& f) {
             return editorCommand<dbtools::d_FindDuplicates>(f, Command::FindDuplicates);
         }},
        {"Find and Replace",
         [](MainWindowFixture& f) {
             return editorCommand<dbtools::d_FindAndReplace>(f, Command::SearchReplace);
         }},
        {"Add Group",
         [](MainWindowFixture& f) {
             return editorCommand<dbtools::d_AddGroup>(f, Command::AddGroup);
         }},
        {"Auto Group",
         [](MainWindowFixture& f) {
             return editorCommand<dbtools::d_AutoGroup>(f, Command::AutoGroup);
         }},
        {"page settings",
         [](MainWindowFixture& f) {
             return editorCommand<print::d_PrinterSetup>(f, Command::PageSetting);
         }},
        {"print column choice and preview",
         [](MainWindowFixture& f) {
             return inEditor(f, [](dbtools::d_EditDialog* editor, QStringList& wrong) {
                 wrong += Scan()
                              .modal<print::d_DBPrintSelectForm>(
                                  [](print::d_DBPrintSelectForm* d, QStringList&) { d->accept(); })
                              .run([&] { editor->run(Command::Print); });
                 auto* frame = editor->findChild<print::CPrintDBGrid*>();
                 if (!frame) {
                     wrong << "no preview";
                     return;
                 }
                 wrong += notJapanese(frame);
                 frame->close();
             });
         }},
        {"open database on server",
         [](MainWindowFixture& f) {
             return commandWindow<d_ServerDatabase>(f, cmd::kOpenServerDatabase);
         }},
        {"suppression list",
         [](MainWindowFixture& f) {
             // the count is a number in the table's text
             return commandWindow<d_SuppressionList>(f, cmd::kSuppressionList, {"countLabel"});
         }},
        {"bounces and replies",
         [](MainWindowFixture& f) {
             // the report shown is the mail as it came
             return commandWindow<d_Bounces>(f, cmd::kBounces, {"reportText"});
         }},
        {"campaign history",
         [](MainWindowFixture& f) {
             // the charts are the report page the program writes
             return commandWindow<d_History>(f, cmd::kHistory, {"charts"});
         }},
        {"unsubscribe settings",
         [](MainWindowFixture& f) {
             // the HTML footer is the user's markup around the table's text
             return commandWindow<d_Unsubscribe>(f, cmd::kUnsubscribeSettings, {"footerHtml"});
         }},
        {"field names",
         [](MainWindowFixture& f) {
             return commandWindow<dbtools::d_FieldsNameEdit>(f, cmd::kEditFieldName);
         }},
        {"field window",
         [](MainWindowFixture& f) {
             return notJapanese(f.window->findChild<dbtools::d_FieldShow*>());
         }},
        {"import: format, data, contents",
         [](MainWindowFixture& f) {
             const QString file = f.env.root() + "list.txt";
             (void)test::writeFile(file, "a@example.jp\t山田\n");
             f.ui.scriptFiles({{file}});
             return Scan()
                 .modal<exchange::d_SelectDelimitForm>(
                     [](exchange::d_SelectDelimitForm* d, QStringList&) { d->accept(); })
                 // the encodings by their names; the notice is named by the first part of
                 // its text, which leaves the numbers out
                 .modal<exchange::d_DatabaseImport>(
                     [](exchange::d_DatabaseImport* d, QStringList& wrong) {
                         wrong += Scan().modal<exchange::d_DataBaseImportContents>().run([&] {
                             test::child<QPushButton>(d, "selectAll")->click();
                             d->findChild<QDialogButtonBox*>()
                                 ->button(QDialogButtonBox::Ok)
                                 ->click();
                         });
                     },
                     {"encoding", "notice"})
                 .run([&] { trigger(f, cmd::kImportDatabase); });
         }},
        {"import: worksheet",
         [](MainWindowFixture&) {
             exchange::d_SelectWorksheet sheets({"Sheet1", "Sheet2"}, 1);
             // the workbook's sheet names
             return notJapanese(&sheets, {"sheets"});
         }},
        {"template chooser and wizard",
         [](MainWindowFixture& f) {
             return Scan()
                 .modal<d_HTMLTempSelect>([](d_HTMLTempSelect* d, QStringList& wrong) {
                     if (!d->selectTemplate(QStringLiteral("Newsletter (Japanese)")))
                         wrong << "no template";
                     d->onNext();
                 })
                 // the page's prompt is the template's own text
                 .modal<d_FormEdit>({}, {"prompt"})
                 .run([&] { trigger(f, cmd::kSelectHtmlTemplate); });
         }},
        {"Graphic Edit",
         [](MainWindowFixture& f) {
             QImage picture(40, 30, QImage::Format_RGB32);
             picture.fill(Qt::red);
             const QString path = f.env.root() + "red.png";
             (void)picture.save(path);
             d_GraphicEdit d(path, picture.size(), f.env.makeFolder("graphic"), f.ui);
             // the picture's size and offset in pixels
             return notJapanese(&d, {"paneSize", "paneOffset"});
         }},
        {"Text/Color Settings",
         [](MainWindowFixture&) {
             d_TextStyle text({}, d_TextStyle::Mode::Text);
             d_TextStyle color({}, d_TextStyle::Mode::ColorOnly);
             // the names of the installed fonts
             const QStringList fonts = QFontDatabase::families();
             const QSet<QString> families(fonts.cbegin(), fonts.cend());
             return notJapanese(&text, {}, families) + notJapanese(&color, {}, families);
         }},
        {"URL Setting",
         [](MainWindowFixture&) {
             d_UrlSetting d(QStringLiteral("https://shop.example.jp/"));
             return notJapanese(&d);
         }},
        {"preview",
         [](MainWindowFixture& f) {
             f.find<QLineEdit>("recipient")->setText("[[メールアドレス]]");
             return commandWindow<d_Preview>(f, cmd::kPreview);
         }},
        {"Count Characters",
         [](MainWindowFixture& f) {
             return commandWindow<d_CountCharacters>(f, cmd::kCountCharacters);
         }},
        {"Auto-Wrap",
         [](MainWindowFixture& f) { return commandWindow<d_AutoWrap>(f, cmd::kAutoWrap); }},
        {"Auto Line",
         [](MainWindowFixture&) {
             AutoLineMemory memory;
             d_AutoLine d(memory);
             return notJapanese(&d);
         }},
        {"Auto Frame",
         [](MainWindowFixture&) {
             QString frameText = QStringLiteral("┏┓┗┛━┃");
             d_AutoFrame d(frameText);
             return notJapanese(&d);
         }},
        {"Select Template",
         [](MainWindowFixture& f) { return commandWindow<SelTemp>(f, cmd::kSelectTemplate); }},
        {"Save As Template",
         [](MainWindowFixture& f) { return commandWindow<d_SSTemplate>(f, cmd::kSaveAsTemplate); }},
        {"server settings and advanced settings",
         [](MainWindowFixture& f) {
             return Scan()
                 .modal<serversettings::d_ServerSettings>(
                     [](serversettings::d_ServerSettings* d, QStringList& wrong) {
                         wrong += Scan().modal<serversettings::d_AdvSettings>().run(
                             [&] { test::child<QPushButton>(d, "settingsButton")->click(); });
                     })
                 .run([&] { trigger(f, cmd::kServerSettings); });
         }},
        {"user preferences",
         [](MainWindowFixture& f) {
             return commandWindow<d_UserPreferences>(f, cmd::kUserPreferences);
         }},
        {"Getting Started",
         [](MainWindowFixture& f) {
             return Scan().modal<d_StartForm>().run(
                 [&] { (void)RunGettingStarted(*f.session, f.window.get()); });
         }},
    };
    return list;
}

}  // namespace

class TestWindowsJapanese : public QObject {
    Q_OBJECT
    std::unique_ptr<MainWindowFixture> f;

private slots:
    void initTestCase() {
        test::useJapaneseLocale();
        QCOMPARE(currentLanguage(), Language::Japanese);
        QCOMPARE(smtp::textLanguage(), smtp::TextLanguage::Japanese);
        f = std::make_unique<MainWindowFixture>("[SETUP]\r\nStartShortcut=0\r\nWrap=1\r\n");
        QVERIFY(f->open());
        for (int i = 1; i <= 3; ++i) {
            pw::test::execute(
                f->session->store(),
                QStringLiteral("insert into MAILS (ID, SENDED, SENDING, ADDRESS, NAME) values "
                               "(%1, 0, 1, 'r%1@example.jp', '%2')")
                    .arg(i)
                    .arg(i < 3 ? QStringLiteral("山田") : QStringLiteral("佐藤")));
        }
        QVERIFY(f->session->store().Save(db::SaveMode::Retaining));
        // the shipped template library beside the program
        QVERIFY(QFile::link(QStringLiteral(POSTWICK_SOURCE_DIR "/data/HTML TEMPLATE"),
                            f->folders.programFolder + "HTML TEMPLATE"));
    }
    void cleanupTestCase() { f.reset(); }

    void everyWindowIsJapanese_data() {
        QTest::addColumn<int>("window");
        for (size_t i = 0; i < windows().size(); ++i)
            QTest::newRow(windows()[i].name) << int(i);
    }
    void everyWindowIsJapanese() {
        QFETCH(int, window);
        const QStringList wrong = windows()[size_t(window)].scan(*f);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestWindowsJapanese)
#include "test_windows_japanese.moc"
