#include "app/HistoryCommand.h"

#include <QBuffer>
#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "app/AppFolders.h"
#include "app/SendCommand.h"
#include "db/HistoryStore.h"
#include "resources/Strings.h"
#include "send/HistoryReport.h"

namespace pw::app {

bool isHistoryCommandLine(const QStringList& arguments) {
    return arguments.contains(QLatin1String("--history"));
}

int runHistory(const QStringList& arguments, const QString& folder, QTextStream& out,
               QTextStream& err) {
    enum class Format { Text, Csv } format = Format::Text;
    int campaign = 0;
    for (const QString& a : arguments) {
        if (a == QLatin1String("--history"))
            continue;
        if (a == QLatin1String("--csv")) {
            format = Format::Csv;
            continue;
        }
        bool isNumber = false;
        const int id = a.toInt(&isNumber);
        if (!isNumber || id <= 0 || campaign != 0) {
            err << str(ids::kHistoryUsage) << '\n';
            return int(SendExit::Unusable);
        }
        campaign = id;
    }
    const db::CHistoryStore store(folder);
    const auto unreadable = [&] {
        err << str(ids::kHistoryUnreadable).arg(store.FilePath(), store.LastError()) << '\n';
        return int(SendExit::Unusable);
    };
    if (campaign == 0) {
        // every campaign: a year of weekly runs is 52 rows
        std::vector<db::CampaignRow> rows;
        std::vector<db::CampaignRow> page;
        for (int before = 0;;) {
            const db::HistoryRead r = store.ReadCampaigns(page, before, 1000);
            if (r == db::HistoryRead::Failed)
                return unreadable();
            rows.insert(rows.end(), page.begin(), page.end());
            if (page.size() < 1000)
                break;
            before = page.back().id;
        }
        if (format == Format::Csv) {
            out.flush();
            out << QString::fromUtf8(send::campaignsCsv(rows));
        } else if (rows.empty()) {
            err << str(ids::kHistoryNone) << '\n';
        } else {
            out << send::campaignsText(rows);
        }
        out.flush();
        return int(SendExit::Complete);
    }
    db::CampaignRow row;
    switch (store.ReadCampaign(campaign, row)) {
        case db::HistoryRead::Failed:
            return unreadable();
        case db::HistoryRead::Missing:
            err << str(ids::kHistoryNoCampaign).arg(campaign) << '\n';
            return int(SendExit::Unusable);
        case db::HistoryRead::Read:
            break;
    }
    if (format == Format::Csv) {
        QByteArray csv;
        QBuffer buffer(&csv);
        buffer.open(QIODevice::WriteOnly);
        if (send::writeRecipientsCsv(store, campaign, {}, buffer) == db::HistoryRead::Failed)
            return unreadable();
        out << QString::fromUtf8(csv);
        out.flush();
        return int(SendExit::Complete);
    }
    std::vector<db::HistoryRecipient> rows;
    std::vector<db::HistoryRecipient> page;
    for (int after = 0;;) {
        if (store.ReadRecipients(campaign, {}, page, after, 5000) == db::HistoryRead::Failed)
            return unreadable();
        rows.insert(rows.end(), page.begin(), page.end());
        if (page.size() < 5000)
            break;
        after = page.back().position;
    }
    out << send::recipientsText(rows);
    out.flush();
    return int(SendExit::Complete);
}

int runHistoryCommand(const QStringList& arguments) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    const CommandLineStart start = StartCommandLine();
    const AppFolders& folders = start.folders;
    if (folders.userDataFolder.isEmpty())
        return int(SendExit::Unusable);
    return runHistory(arguments, folders.userDataFolder, out, err);
}

}  // namespace pw::app
