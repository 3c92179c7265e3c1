// The editor's tools and the import on 20000 records: Find Duplicate Data up to the list
// filled, Delete All Duplicate Data, Check Mail Adresses over the whole grid, Find and
// Replace All of one word in every row, and the import of a 20000-row CSV up to the grid
// refilled. Each run starts from the saved database (the changes are discarded).
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "RawStatement.h"
#include "db/TDbData.h"
#include "dbtools/EditorSession.h"
#include "dbtools/EditorTools.h"
#include "dbtools/StoreQuestions.h"
#include "exchange/ImportFlow.h"
#include "support/BenchStore.h"
#include "support/BenchSupport.h"

namespace {

// Answers Ok, Yes to a deletion's question (Yes / No), No to the save question (Yes / No /
// Cancel), so that each run discards what the one before changed, and takes a choice's
// default button (the duplicates compared as addresses).
class SilentUser : public pw::bench::SilentUser {
public:
    int choose(const pw::ChoiceRequest& request) override { return request.defaultButton; }
    pw::Answer message(const QString&, const QString&, pw::MessageKind kind) override {
        switch (kind) {
            case pw::MessageKind::Information:
                return pw::Answer::Ok;
            case pw::MessageKind::YesNo:
                return pw::Answer::Yes;
            default:
                return pw::Answer::No;
        }
    }
};

class SilentUserWithProgress : public SilentUser {
public:
    std::unique_ptr<pw::IProgress> createProgress() override {
        return std::make_unique<pw::SilentProgress>();
    }
};

// The import windows as a user clicks through them: every column, OK, OK.
class ClickThrough : public pw::exchange::IImportWindows {
public:
    std::optional<pw::exchange::Delimiter> chooseDelimiter() override { return std::nullopt; }
    std::optional<int> chooseWorksheet(const QStringList&, int) override { return std::nullopt; }
    void selectData(pw::exchange::ImportFlow& flow) override {
        flow.session().selectAll();
        pw::exchange::SteppedProgress progress;
        (void)flow.preparePreview(progress);
        (void)flow.storeRows(false);
    }
};

// Wall and CPU times of one kind of step over the runs.
struct Times {
    std::vector<double> wall;
    std::vector<double> cpu;
    template <typename F>
    void time(F&& f) {
        wall.push_back(pw::bench::timeMs(f, cpu, pw::bench::CpuClock::Process));
    }
    void print(const char* name) const {
        std::printf("%s: %.1f ms\n", name, pw::bench::median(wall));
        std::printf("%s_cpu: %.1f ms\n", name, pw::bench::median(cpu));
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    SilentUserWithProgress ui;
    pw::db::DbFolders folders{dir.path() + "/data/", dir.path() + "/state/"};
    pw::db::TDbData store(folders);
    store.SetStrFieldSize(100);
    // Every fourth address is shared with another record; every tenth is invalid; every
    // name holds the word replaced.
    QString fields = QStringLiteral(
        ", iif(mod(:i, 10) = 0, 'invalid ' || :i, 'm' || iif(mod(:i, 4) = 0, :i - 1, :i) || "
        "'@example.jp'), '東京 ' || :i, 'city' || mod(:i, 10)");
    for (int k = 4; k <= pw::db::kFieldCount; ++k)
        fields += QStringLiteral(", null");
    if (!pw::bench::createFilledStore(store, 20000, fields))
        return 1;
    const QString csvPath = dir.path() + "/import.csv";
    if (!pw::bench::writeRecipientsCsv(csvPath, 20000))
        return 1;

    pw::dbtools::EditorSession session(store, ui, {});
    session.open();
    pw::dbtools::EditorTools tools(session);
    const auto discard = [&] {
        if (!pw::dbtools::ConfirmClose(store, ui))
            std::exit(5);
        session.list().Refresh();
    };

    constexpr int runs = 5;
    Times find, deleteAll, check, replace, import;
    for (int r = 0; r < runs; ++r) {
        session.setCursor(0, pw::dbtools::kFirstFieldColumn);
        find.time([&] {
            pw::dbtools::DuplicateListModel model(store, session.list(), 0);
            model.search();
            if (model.rowCount() == 0)
                std::exit(2);
        });
        deleteAll.time([&] { (void)tools.deleteAllDuplicates(); });
        if (store.Records().CountRecords() >= 20000)
            return 3;
        discard();
        session.setCursor(0, pw::dbtools::kFirstFieldColumn);
        // Only the last row fails: the whole grid is walked.
        pw::test::execute(
            store, QStringLiteral(
                       "update MAILS set ADDRESS = 'm' || ID || '@example.jp' where ID < 20000"));
        session.list().Refresh();
        check.time([&] { (void)tools.checkAddresses(); });
        if (session.cursorRow() != 19999)
            return 4;
        discard();
        pw::dbtools::FindReplace fr(session);
        fr.setFindText(QStringLiteral("東京"));
        fr.setReplaceText(QStringLiteral("大阪"));
        replace.time([&] {
            if (fr.replaceAll() != 20000)
                std::exit(6);
        });
        discard();
        pw::test::execute(store, QStringLiteral("delete from MAILS"));
        if (!store.Save(pw::db::SaveMode::Retaining))
            return 9;
        const auto importCsv = [&] {
            pw::exchange::ImportFlow flow(store, ui, {});
            ClickThrough windows;
            pw::SilentProgress progress;
            flow.run(csvPath, windows, &progress);
            session.list().Refresh();
            session.list().FetchRows(49);
        };
        import.time(importCsv);
        if (store.Records().CountRecords() != 20000)
            return 7;
        // The import commits its own transaction: the original records come back by hand.
        pw::test::execute(store, QStringLiteral("delete from MAILS"));
        if (!pw::bench::fillStore(store, 20000, fields))
            return 8;
        session.list().Refresh();
    }
    find.print("tools_find_duplicates_list");
    deleteAll.print("tools_delete_all_duplicates");
    check.print("tools_check_addresses_grid");
    replace.print("tools_replace_all_one_word");
    import.print("import_csv_20000_to_grid");
    store.Close(pw::db::CloseMode::DeleteWorkingCopy);
    return 0;
}
