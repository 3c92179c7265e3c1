#pragma once
// The campaign history as the user reads it: the columns of the campaign and recipient tables
// (shared by the window, "--history" and the report), CSV, a terminal table, and the charts,
// drawn as SVG by the program itself. Each chart keeps the figures it draws as series, and the
// SVG carries them on its marks, so that both can be checked against the table.

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

#include "db/HistoryStore.h"

namespace pw::send {

[[nodiscard]] QString kindText(db::CampaignKind kind);
[[nodiscard]] QString endText(db::CampaignEnd end);
[[nodiscard]] QString outcomeText(db::HistoryOutcome outcome);
[[nodiscard]] QString eventText(db::HistoryEvent event);
// Local time "yyyy-MM-dd HH:mm"; empty for 0.
[[nodiscard]] QString dateText(qint64 ms);
// "h:mm:ss"; empty when the run did not end.
[[nodiscard]] QString durationText(const db::CampaignRow& row);

enum class CampaignColumn {
    Id,
    Date,
    Kind,
    Subject,
    Recipients,
    Sent,
    Possibly,
    Failed,
    Suppressed,
    Unsent,
    Bounced,
    Complaints,
    Unsubscribed,
    Duration,
    End,
};
inline constexpr int kCampaignColumns = int(CampaignColumn::End) + 1;
[[nodiscard]] QString campaignHeader(CampaignColumn column);
// A figure as an int, the rest as text.
[[nodiscard]] QVariant campaignCell(const db::CampaignRow& row, CampaignColumn column);

enum class RecipientColumn { Number, Address, Outcome, Reply, Time, Later, LaterReason };
inline constexpr int kRecipientColumns = int(RecipientColumn::LaterReason) + 1;
[[nodiscard]] QString recipientHeader(RecipientColumn column);
[[nodiscard]] QVariant recipientCell(const db::HistoryRecipient& row, RecipientColumn column);

// One CSV line (RFC 4180 quoting), CR LF ended, UTF-8.
[[nodiscard]] QByteArray csvLine(const QStringList& cells);
[[nodiscard]] QByteArray campaignsCsv(const std::vector<db::CampaignRow>& rows);
// Every recipient of the campaign that passes the filter, read page by page.
[[nodiscard]] db::HistoryRead writeRecipientsCsv(const db::CHistoryStore& store, int campaign,
                                                 const db::RecipientFilter& filter, QIODevice& out);
// Columns separated by tabs, for the terminal.
[[nodiscard]] QString campaignsText(const std::vector<db::CampaignRow>& rows);
[[nodiscard]] QString recipientsText(const std::vector<db::HistoryRecipient>& rows);

struct ChartSeries {
    QString key;  // "sent", "possibly", ... "bounceRate", "complaintRate"
    QString name;
    std::vector<double> values;  // one per campaign of the chart
};
struct Chart {
    enum class Style { StackedBars, Lines } style = Style::StackedBars;
    QString title;
    std::vector<int> campaignIds;  // oldest first
    QStringList labels;            // the campaigns' dates
    std::vector<ChartSeries> series;
    std::vector<double> thresholds;  // horizontal lines, in the series' unit
};
// The campaigns that were sent (no tests, no dry runs), oldest first: their outcomes stacked
// (sent, possibly delivered, failed, suppressed, left unsent).
[[nodiscard]] Chart outcomeChart(const std::vector<db::CampaignRow>& rows);
// Bounces and complaints per 100 mails that went out, against the providers' limits of 2 %
// and 0.3 %.
[[nodiscard]] Chart rateChart(const std::vector<db::CampaignRow>& rows);
inline constexpr double kBounceRateLimit = 2.0;
inline constexpr double kComplaintRateLimit = 0.3;
// Every mark carries data-campaign, data-series and data-value.
[[nodiscard]] QString chartSvg(const Chart& chart);
// The page the window shows and prints: both charts and the table.
[[nodiscard]] QString reportHtml(const std::vector<db::CampaignRow>& rows);

}  // namespace pw::send
