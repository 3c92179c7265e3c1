#include "send/HistoryReport.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cmath>

#include "resources/Strings.h"

namespace pw::send {

namespace {

using db::CampaignRow;

QString escaped(const QString& text) {
    return text.toHtmlEscaped();
}

QString number(double value) {
    return QString::number(value, 'g', 6);
}

QString tabCell(QString text) {
    for (QChar& c : text)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return text;
}

std::vector<const CampaignRow*> sentCampaigns(const std::vector<CampaignRow>& rows) {
    std::vector<const CampaignRow*> out;
    for (const CampaignRow& r : rows)
        if (r.kind == db::CampaignKind::Send)
            out.push_back(&r);
    std::sort(out.begin(), out.end(), [](const CampaignRow* a, const CampaignRow* b) {
        return a->startedMs != b->startedMs ? a->startedMs < b->startedMs : a->id < b->id;
    });
    return out;
}

Chart chartFrame(const std::vector<const CampaignRow*>& rows) {
    Chart c;
    for (const CampaignRow* r : rows) {
        c.campaignIds.push_back(r->id);
        c.labels.append(QDateTime::fromMSecsSinceEpoch(r->startedMs).toString(u"MM-dd"));
    }
    return c;
}

const char* const kSeriesColours[] = {"#2e7d32", "#9ccc65", "#c62828", "#757575", "#ffb300"};

}  // namespace

QString kindText(db::CampaignKind kind) {
    switch (kind) {
        case db::CampaignKind::Test:
            return str(ids::kHistoryKindTest);
        case db::CampaignKind::DryRun:
            return str(ids::kHistoryKindDryRun);
        case db::CampaignKind::Send:
            break;
    }
    return str(ids::kHistoryKindSend);
}

QString endText(db::CampaignEnd end) {
    switch (end) {
        case db::CampaignEnd::Running:
            return str(ids::kHistoryEndRunning);
        case db::CampaignEnd::Failed:
            return str(ids::kHistoryEndFailed);
        case db::CampaignEnd::Cancelled:
            return str(ids::kHistoryEndCancelled);
        case db::CampaignEnd::Completed:
            break;
    }
    return str(ids::kHistoryEndCompleted);
}

QString outcomeText(db::HistoryOutcome outcome) {
    switch (outcome) {
        case db::HistoryOutcome::Failed:
            return str(ids::kHistoryOutcomeFailed);
        case db::HistoryOutcome::Suppressed:
            return str(ids::kHistoryOutcomeSuppressed);
        case db::HistoryOutcome::PossiblyDelivered:
            return str(ids::kHistoryOutcomePossibly);
        case db::HistoryOutcome::Unsent:
            return str(ids::kHistoryOutcomeUnsent);
        case db::HistoryOutcome::Sent:
            break;
    }
    return str(ids::kHistoryOutcomeSent);
}

QString eventText(db::HistoryEvent event) {
    switch (event) {
        case db::HistoryEvent::Bounced:
            return str(ids::kHistoryEventBounced);
        case db::HistoryEvent::Complaint:
            return str(ids::kHistoryEventComplaint);
        case db::HistoryEvent::Unsubscribed:
            return str(ids::kHistoryEventUnsubscribed);
        case db::HistoryEvent::None:
            break;
    }
    return {};
}

QString dateText(qint64 ms) {
    if (ms <= 0)
        return {};
    return QDateTime::fromMSecsSinceEpoch(ms).toString(u"yyyy-MM-dd HH:mm");
}

QString durationText(const CampaignRow& row) {
    if (row.endedMs <= 0 || row.endedMs < row.startedMs)
        return {};
    const qint64 s = (row.endedMs - row.startedMs) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString campaignHeader(CampaignColumn column) {
    static const int ids[kCampaignColumns] = {
        ids::kHistoryColId,           ids::kHistoryColDate,       ids::kHistoryColKind,
        ids::kHistoryColSubject,      ids::kHistoryColRecipients, ids::kHistoryColSent,
        ids::kHistoryColPossibly,     ids::kHistoryColFailed,     ids::kHistoryColSuppressed,
        ids::kHistoryColUnsent,       ids::kHistoryColBounced,    ids::kHistoryColComplaints,
        ids::kHistoryColUnsubscribed, ids::kHistoryColDuration,   ids::kHistoryColEnd};
    return str(ids[int(column)]);
}

QVariant campaignCell(const CampaignRow& r, CampaignColumn column) {
    switch (column) {
        case CampaignColumn::Id:
            return r.id;
        case CampaignColumn::Date:
            return dateText(r.startedMs);
        case CampaignColumn::Kind:
            return kindText(r.kind);
        case CampaignColumn::Subject:
            return r.subject;
        case CampaignColumn::Recipients:
            return r.recipients;
        case CampaignColumn::Sent:
            return r.sent;
        case CampaignColumn::Possibly:
            return r.possiblyDelivered;
        case CampaignColumn::Failed:
            return r.failed;
        case CampaignColumn::Suppressed:
            return r.suppressed;
        case CampaignColumn::Unsent:
            return r.unsent;
        case CampaignColumn::Bounced:
            return r.bounced;
        case CampaignColumn::Complaints:
            return r.complaints;
        case CampaignColumn::Unsubscribed:
            return r.unsubscribed;
        case CampaignColumn::Duration:
            return durationText(r);
        case CampaignColumn::End:
            return endText(r.end);
    }
    return {};
}

QString recipientHeader(RecipientColumn column) {
    static const int ids[kRecipientColumns] = {ids::kHistoryColNumber,     ids::kHistoryColAddress,
                                               ids::kHistoryColOutcome,    ids::kHistoryColReply,
                                               ids::kHistoryColTime,       ids::kHistoryColLater,
                                               ids::kHistoryColLaterReason};
    return str(ids[int(column)]);
}

QVariant recipientCell(const db::HistoryRecipient& r, RecipientColumn column) {
    switch (column) {
        case RecipientColumn::Number:
            return r.position;
        case RecipientColumn::Address:
            return r.address;
        case RecipientColumn::Outcome:
            return outcomeText(r.outcome);
        case RecipientColumn::Reply:
            return r.reply;
        case RecipientColumn::Time:
            return dateText(r.atMs);
        case RecipientColumn::Later:
            return eventText(r.event);
        case RecipientColumn::LaterReason:
            return r.eventReason;
    }
    return {};
}

QByteArray csvLine(const QStringList& cells) {
    QByteArray line;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            line += ',';
        QString c = cells.at(i);
        // a cell a spreadsheet would take for a formula is kept as text
        if (!c.isEmpty() && QStringLiteral("=+-@").contains(c.at(0)) && !c.at(0).isDigit() &&
            !(c.size() > 1 && c.at(0) == u'-' && c.at(1).isDigit()))
            c.prepend(u'\'');
        if (c.contains(u',') || c.contains(u'"') || c.contains(u'\n') || c.contains(u'\r')) {
            c.replace(QStringLiteral("\""), QStringLiteral("\"\""));
            c = u'"' + c + u'"';
        }
        line += c.toUtf8();
    }
    return line + "\r\n";
}

QByteArray campaignsCsv(const std::vector<CampaignRow>& rows) {
    QStringList header;
    for (int c = 0; c < kCampaignColumns; ++c)
        header.append(campaignHeader(CampaignColumn(c)));
    QByteArray out = csvLine(header);
    for (const CampaignRow& r : rows) {
        QStringList cells;
        for (int c = 0; c < kCampaignColumns; ++c)
            cells.append(campaignCell(r, CampaignColumn(c)).toString());
        out += csvLine(cells);
    }
    return out;
}

db::HistoryRead writeRecipientsCsv(const db::CHistoryStore& store, int campaign,
                                   const db::RecipientFilter& filter, QIODevice& out) {
    QStringList header;
    for (int c = 0; c < kRecipientColumns; ++c)
        header.append(recipientHeader(RecipientColumn(c)));
    out.write(csvLine(header));
    std::vector<db::HistoryRecipient> page;
    int after = 0;
    for (;;) {
        const db::HistoryRead r = store.ReadRecipients(campaign, filter, page, after, 5000);
        if (r != db::HistoryRead::Read)
            return r;
        for (const db::HistoryRecipient& row : page) {
            QStringList cells;
            for (int c = 0; c < kRecipientColumns; ++c)
                cells.append(recipientCell(row, RecipientColumn(c)).toString());
            out.write(csvLine(cells));
        }
        if (page.size() < 5000)
            return db::HistoryRead::Read;
        after = page.back().position;
    }
}

QString campaignsText(const std::vector<CampaignRow>& rows) {
    QStringList lines;
    QStringList header;
    for (int c = 0; c < kCampaignColumns; ++c)
        header.append(campaignHeader(CampaignColumn(c)));
    lines.append(header.join(u'\t'));
    for (const CampaignRow& r : rows) {
        QStringList cells;
        for (int c = 0; c < kCampaignColumns; ++c)
            cells.append(tabCell(campaignCell(r, CampaignColumn(c)).toString()));
        lines.append(cells.join(u'\t'));
    }
    return lines.join(u'\n') + u'\n';
}

QString recipientsText(const std::vector<db::HistoryRecipient>& rows) {
    QStringList lines;
    QStringList header;
    for (int c = 0; c < kRecipientColumns; ++c)
        header.append(recipientHeader(RecipientColumn(c)));
    lines.append(header.join(u'\t'));
    for (const db::HistoryRecipient& r : rows) {
        QStringList cells;
        for (int c = 0; c < kRecipientColumns; ++c)
            cells.append(tabCell(recipientCell(r, RecipientColumn(c)).toString()));
        lines.append(cells.join(u'\t'));
    }
    return lines.join(u'\n') + u'\n';
}

Chart outcomeChart(const std::vector<CampaignRow>& rows) {
    const std::vector<const CampaignRow*> sent = sentCampaigns(rows);
    Chart c = chartFrame(sent);
    c.style = Chart::Style::StackedBars;
    c.title = str(ids::kHistoryChartOutcomes);
    c.series = {{QStringLiteral("sent"), str(ids::kHistoryColSent), {}},
                {QStringLiteral("possibly"), str(ids::kHistoryColPossibly), {}},
                {QStringLiteral("failed"), str(ids::kHistoryColFailed), {}},
                {QStringLiteral("suppressed"), str(ids::kHistoryColSuppressed), {}},
                {QStringLiteral("unsent"), str(ids::kHistoryColUnsent), {}}};
    for (const CampaignRow* r : sent) {
        const int values[] = {r->sent, r->possiblyDelivered, r->failed, r->suppressed, r->unsent};
        for (size_t s = 0; s < c.series.size(); ++s)
            c.series[s].values.push_back(values[s]);
    }
    return c;
}

Chart rateChart(const std::vector<CampaignRow>& rows) {
    const std::vector<const CampaignRow*> sent = sentCampaigns(rows);
    Chart c = chartFrame(sent);
    c.style = Chart::Style::Lines;
    c.title = str(ids::kHistoryChartRates);
    c.series = {{QStringLiteral("bounceRate"), str(ids::kHistorySeriesBounceRate), {}},
                {QStringLiteral("complaintRate"), str(ids::kHistorySeriesComplaintRate), {}}};
    c.thresholds = {kBounceRateLimit, kComplaintRateLimit};
    for (const CampaignRow* r : sent) {
        const int out = r->sent + r->possiblyDelivered;
        c.series[0].values.push_back(out > 0 ? 100.0 * r->bounced / out : 0.0);
        c.series[1].values.push_back(out > 0 ? 100.0 * r->complaints / out : 0.0);
    }
    return c;
}

QString chartSvg(const Chart& chart) {
    constexpr double kWidth = 760, kHeight = 300, kLeft = 56, kRight = 16, kTop = 34, kBottom = 60;
    const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
    const size_t n = chart.campaignIds.size();
    double top = 0;
    for (size_t i = 0; i < n; ++i) {
        double stack = 0;
        for (const ChartSeries& s : chart.series) {
            if (chart.style == Chart::Style::StackedBars)
                stack += s.values[i];
            else
                top = std::max(top, s.values[i]);
        }
        top = std::max(top, stack);
    }
    for (const double t : chart.thresholds)
        top = std::max(top, t * 1.25);
    if (top <= 0)
        top = 1;
    const auto y = [&](double v) { return kTop + plotH - plotH * v / top; };
    const double slot = n > 0 ? plotW / double(n) : plotW;

    QString svg = QStringLiteral(
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                      "viewBox=\"0 0 %1 %2\" font-family=\"sans-serif\" font-size=\"11\">\n")
                      .arg(kWidth)
                      .arg(kHeight);
    svg += QStringLiteral("<text x=\"%1\" y=\"18\" font-size=\"14\">%2</text>\n")
               .arg(kLeft)
               .arg(escaped(chart.title));
    // the axis: zero and the top figure
    svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"#333\"/>\n")
               .arg(kLeft)
               .arg(y(0))
               .arg(kLeft + plotW);
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>\n")
               .arg(kLeft - 4)
               .arg(y(top) + 4)
               .arg(number(top));
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">0</text>\n")
               .arg(kLeft - 4)
               .arg(y(0) + 4);
    for (const double t : chart.thresholds) {
        svg += QStringLiteral(
                   "<line class=\"threshold\" data-value=\"%1\" x1=\"%2\" y1=\"%3\" x2=\"%4\" "
                   "y2=\"%3\" stroke=\"#c62828\" stroke-dasharray=\"6 4\"/>\n"
                   "<text x=\"%4\" y=\"%5\" text-anchor=\"end\" fill=\"#c62828\">%6</text>\n")
                   .arg(number(t))
                   .arg(kLeft)
                   .arg(y(t))
                   .arg(kLeft + plotW)
                   .arg(y(t) - 3)
                   .arg(escaped(str(ids::kHistoryThreshold).arg(number(t))));
    }
    for (size_t i = 0; i < n; ++i) {
        const double x = kLeft + slot * double(i);
        double base = 0;
        for (size_t s = 0; s < chart.series.size(); ++s) {
            const ChartSeries& series = chart.series[s];
            const double v = series.values[i];
            const QString data = QStringLiteral(
                                     "data-campaign=\"%1\" data-series=\"%2\" "
                                     "data-value=\"%3\"")
                                     .arg(chart.campaignIds[i])
                                     .arg(series.key, number(v));
            const char* colour = kSeriesColours[s % std::size(kSeriesColours)];
            if (chart.style == Chart::Style::StackedBars) {
                svg += QStringLiteral(
                           "<rect class=\"mark\" %1 x=\"%2\" y=\"%3\" width=\"%4\" "
                           "height=\"%5\" fill=\"%6\"/>\n")
                           .arg(data)
                           .arg(x + slot * 0.15)
                           .arg(y(base + v))
                           .arg(slot * 0.7)
                           .arg(y(base) - y(base + v))
                           .arg(QLatin1String(colour));
                base += v;
            } else {
                svg += QStringLiteral(
                           "<circle class=\"mark\" %1 cx=\"%2\" cy=\"%3\" r=\"3\" "
                           "fill=\"%4\"/>\n")
                           .arg(data)
                           .arg(x + slot / 2)
                           .arg(y(v))
                           .arg(QLatin1String(s == 0 ? "#c62828" : "#6a1b9a"));
            }
        }
        // a label under every bar while they fit, else under every fourth
        if (n <= 16 || i % 4 == 0)
            svg += QStringLiteral(
                       "<text x=\"%1\" y=\"%2\" text-anchor=\"end\" "
                       "transform=\"rotate(-45 %1 %2)\">%3</text>\n")
                       .arg(x + slot / 2)
                       .arg(kTop + plotH + 14)
                       .arg(escaped(chart.labels.at(qsizetype(i))));
    }
    if (chart.style == Chart::Style::Lines) {
        for (size_t s = 0; s < chart.series.size(); ++s) {
            QStringList points;
            for (size_t i = 0; i < n; ++i)
                points.append(QStringLiteral("%1,%2")
                                  .arg(kLeft + slot * double(i) + slot / 2)
                                  .arg(y(chart.series[s].values[i])));
            svg += QStringLiteral("<polyline points=\"%1\" fill=\"none\" stroke=\"%2\"/>\n")
                       .arg(points.join(u' '), QLatin1String(s == 0 ? "#c62828" : "#6a1b9a"));
        }
    }
    // the legend
    double lx = kLeft;
    for (size_t s = 0; s < chart.series.size(); ++s) {
        const char* colour = chart.style == Chart::Style::StackedBars
                                 ? kSeriesColours[s % std::size(kSeriesColours)]
                                 : (s == 0 ? "#c62828" : "#6a1b9a");
        svg += QStringLiteral(
                   "<rect x=\"%1\" y=\"%2\" width=\"10\" height=\"10\" fill=\"%3\"/>"
                   "<text x=\"%4\" y=\"%5\">%6</text>\n")
                   .arg(lx)
                   .arg(kHeight - 14)
                   .arg(QLatin1String(colour))
                   .arg(lx + 14)
                   .arg(kHeight - 5)
                   .arg(escaped(chart.series[s].name));
        lx += 28 + 7 * chart.series[s].name.size();
    }
    return svg + QStringLiteral("</svg>\n");
}

QString reportHtml(const std::vector<CampaignRow>& rows) {
    QString html = QStringLiteral(
                       "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title>"
                       "<style>body{font-family:sans-serif;font-size:12px}"
                       "table{border-collapse:collapse}td,th{border:1px solid #999;"
                       "padding:2px 5px}td.n{text-align:right}</style></head><body>"
                       "<h1>%1</h1><p>%2</p>\n")
                       .arg(escaped(str(ids::kHistoryReportTitle)),
                            escaped(str(ids::kHistoryReportMade)
                                        .arg(dateText(QDateTime::currentMSecsSinceEpoch()))));
    html += chartSvg(outcomeChart(rows));
    html += chartSvg(rateChart(rows));
    html += QStringLiteral("<table><tr>");
    for (int c = 0; c < kCampaignColumns; ++c)
        html += QStringLiteral("<th>%1</th>").arg(escaped(campaignHeader(CampaignColumn(c))));
    html += QStringLiteral("</tr>\n");
    for (const CampaignRow& r : rows) {
        html += QStringLiteral("<tr>");
        for (int c = 0; c < kCampaignColumns; ++c) {
            const QVariant v = campaignCell(r, CampaignColumn(c));
            html +=
                QStringLiteral("<td%1>%2</td>")
                    .arg(v.typeId() == QMetaType::Int ? QStringLiteral(" class=\"n\"") : QString(),
                         escaped(v.toString()));
        }
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table></body></html>\n");
}

}  // namespace pw::send
