// "Import DataBase..." of a 20000-row CSV through its real windows, offscreen, up to the
// database editor opened afterwards with its first screen of the imported rows painted: the
// file chosen, "Select Data to Import" (Select All, OK), "DataBase Contents" with its preview
// (OK with "Open database after importing"), the records stored, the editor shown. Each run
// starts from an empty database.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <vector>

#include "RawStatement.h"
#include "db/TDbData.h"
#include "dbtools/gui/d_EditDialog.h"
#include "exchange/ImportFlow.h"
#include "exchange/gui/ImportWindows.h"
#include "support/BenchStore.h"
#include "support/BenchSupport.h"

using namespace pw::bench;

namespace {

// Chooses the file; a silent progress display stands for the progress window.
class ImportingUser : public SilentUser {
public:
    QString file;
    QStringList chooseFiles(const pw::FileRequest&) override { return {file}; }
    std::unique_ptr<pw::IProgress> createProgress() override {
        return std::make_unique<pw::SilentProgress>();
    }
};

// Clicks through each import window as soon as it is shown, inside its own event loop.
class ClickThrough : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (!dialog || event->type() != QEvent::Show)
            return false;
        QTimer::singleShot(0, dialog, [dialog] { answer(dialog); });
        return false;
    }

private:
    static void ok(QDialog* dialog) {
        dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::Ok)
            ->click();
    }
    static void answer(QDialog* dialog) {
        const QString name = dialog->objectName();
        if (name == QLatin1String("d_DatabaseImport")) {
            dialog->findChild<QPushButton*>(QStringLiteral("selectAll"))->click();
            ok(dialog);
        } else if (name == QLatin1String("d_DataBaseImportContents")) {
            dialog->findChild<QCheckBox*>(QStringLiteral("openAfter"))->setChecked(true);
            ok(dialog);
        } else if (name == QLatin1String("d_SelectDelimitForm")) {
            ok(dialog);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    offscreenUnlessSet();
    QApplication app(argc, argv);
    const int runs = runsArgument(argc, argv, 7);
    QTemporaryDir dir;
    ImportingUser ui;
    pw::db::TDbData store(foldersIn(dir));
    store.SetStrFieldSize(100);
    if (store.CreateDatabase(store.MakeWorkingCopyPath()) != pw::db::CreateResult::Created ||
        !store.Open())
        return 1;

    ui.file = dir.path() + "/import.csv";  // the headless import benchmark's file
    if (!writeRecipientsCsv(ui.file, 20000))
        return 1;

    ClickThrough clicks;
    app.installEventFilter(&clicks);
    std::vector<double> wall, cpu;
    for (int r = 0; r < runs; ++r) {
        std::unique_ptr<pw::dbtools::d_EditDialog> editor;
        wall.push_back(timeMs(
            [&] {
                pw::exchange::ImportSettings settings;
                pw::exchange::QtImportWindows windows(nullptr);
                const auto flow = pw::exchange::runImportCommand(store, ui, settings, windows);
                if (!flow || !flow->after() || !flow->after()->openEditor)
                    std::exit(2);
                editor = std::make_unique<pw::dbtools::d_EditDialog>(store, ui,
                                                                     pw::dbtools::EditorOptions{});
                editor->show();
                while (!editor->windowHandle() || !editor->windowHandle()->isExposed())
                    QApplication::processEvents();
                QApplication::processEvents();
            },
            cpu, CpuClock::Process));
        const auto* grid = editor->findChild<QTableView*>(QStringLiteral("grid1043"));
        if (store.Records().CountRecords() != 20000 || grid->model()->rowCount() == 0 ||
            editor->session().grid().cache().fetchedCount() == 0) {
            std::fprintf(stderr, "imported: %d records\n", store.Records().CountRecords());
            return 3;
        }
        editor->accept();
        editor.reset();
        pw::test::execute(store, QStringLiteral("delete from MAILS"));
        if (!store.Save(pw::db::SaveMode::Retaining))
            return 4;
    }
    std::printf("import_window_csv_20000_to_grid: %.1f ms\n", median(wall));
    std::printf("import_window_csv_20000_to_grid_cpu: %.1f ms\n", median(cpu));
    std::printf("import_window_peak_memory: %.1f MB\n", double(peakRssKiB()) / 1024.0);
    store.Close(pw::db::CloseMode::DeleteWorkingCopy);
    return 0;
}
