#include "app/gui/HistoryWindow.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPushButton>
#include <QSaveFile>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <QWebEnginePage>

#include "compose/gui/CWebBrowser.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"
#include "send/HistoryReport.h"

namespace pw::app {

namespace {

template <typename W>
W* named(W* widget, const char* objectName, const QString& accessible) {
    widget->setObjectName(QLatin1String(objectName));
    widget->setAccessibleName(QString(accessible).remove(u'&').remove(QStringLiteral("...")));
    return widget;
}

QPushButton* button(int text, const char* objectName) {
    return named(new QPushButton(str(text)), objectName, str(text));
}

QTableView* tableOver(QAbstractItemModel* model, const char* objectName, const QString& label) {
    auto* view = named(new QTableView, objectName, label);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->horizontalHeader()->setStretchLastSection(true);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    return view;
}

void tellReadFailure(IUserInteraction& ui, const db::CHistoryStore& store) {
    (void)ui.message(productName(),
                     str(ids::kHistoryUnreadable).arg(store.FilePath(), store.LastError()),
                     MessageKind::Information);
}

}  // namespace

// ---- the campaigns ----

d_History::d_History(QString userDataFolder, IUserInteraction& ui, QWidget* parent)
    : QDialog(parent),
      m_folder(std::move(userDataFolder)),
      m_ui(ui),
      m_campaigns(std::make_unique<send::CampaignListModel>(m_folder)) {
    setWindowTitle(str(ids::kHistoryTitle));
    setSizeGripEnabled(true);
    resize(960, 600);
    m_tabs = named(new QTabWidget, "tabs", str(ids::kHistoryTitle));
    m_table = tableOver(m_campaigns.get(), "campaigns", str(ids::kHistoryTitle));
    m_charts = named(new CWebBrowser, "charts", str(ids::kHistoryChartOutcomes));
    m_tabs->addTab(m_table, str(ids::kHistoryTitle));
    m_tabs->addTab(m_charts, str(ids::kHistoryChartOutcomes));

    QPushButton* open = button(ids::kHistoryOpenCampaign, "openCampaign");
    QPushButton* pdf = button(ids::kHistoryExportPdf, "exportPdf");
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    close->setObjectName(QStringLiteral("closeButtons"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open);
    buttons->addWidget(pdf);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);

    connect(open, &QPushButton::clicked, this, &d_History::openSelectedCampaign);
    connect(m_table, &QTableView::doubleClicked, this, &d_History::openSelectedCampaign);
    connect(pdf, &QPushButton::clicked, this, [this] { (void)exportPdf(); });
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_charts->page(), &QWebEnginePage::pdfPrintingFinished, this,
            [this](const QString& path, bool ok) {
                if (!ok)
                    (void)m_ui.message(productName(),
                                       str(ids::kHistoryFileFailed).arg(path, QString()),
                                       MessageKind::Information);
                emit pdfWritten(path, ok);
            });

    if (m_campaigns->reload() == db::HistoryRead::Failed)
        tellReadFailure(m_ui, db::CHistoryStore(m_folder));
    writeReport();
}

d_History::~d_History() = default;

void d_History::writeReport() {
    std::vector<db::CampaignRow> rows;
    (void)db::CHistoryStore(m_folder).ReadCampaigns(rows, 0, 1000);  // a failure was told
    if (!m_pages.isValid())
        return;
    m_reportPath = m_pages.filePath(QStringLiteral("history.html"));
    QSaveFile file(m_reportPath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(send::reportHtml(rows).toUtf8());
    if (file.commit())
        m_charts->navigate(m_reportPath);
}

void d_History::openSelectedCampaign() {
    const db::CampaignRow* row = m_campaigns->campaign(m_table->currentIndex().row());
    if (!row)
        return;
    d_CampaignRecipients dialog(m_folder, *row, m_ui, this);
    dialog.setObjectName(QStringLiteral("d_CampaignRecipients"));
    dialog.exec();
}

QString d_History::exportPdf() {
    FileRequest request;
    request.mode = FileChoice::SaveFile;
    request.caption = QString(str(ids::kHistoryExportPdf)).remove(QStringLiteral("..."));
    request.filters = str(ids::kHistoryPdfFilter);
    request.defaultSuffix = QStringLiteral("pdf");
    const QStringList files = m_ui.chooseFiles(request);
    if (files.isEmpty())
        return {};
    m_charts->page()->printToPdf(
        files.first(),
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10)));
    return files.first();
}

// ---- a campaign's recipients ----

d_CampaignRecipients::d_CampaignRecipients(QString userDataFolder, const db::CampaignRow& campaign,
                                           IUserInteraction& ui, QWidget* parent)
    : QDialog(parent),
      m_ui(ui),
      m_model(
          std::make_unique<send::CampaignRecipientsModel>(std::move(userDataFolder), campaign.id)) {
    const QString title = str(ids::kHistoryRecipientsTitle).arg(campaign.subject);
    setWindowTitle(title);
    setSizeGripEnabled(true);
    resize(900, 560);
    m_outcome = named(new QComboBox, "outcomeFilter", str(ids::kHistoryColOutcome));
    m_outcome->addItem(str(ids::kHistoryAllOutcomes), 0);
    for (const db::HistoryOutcome o :
         {db::HistoryOutcome::Sent, db::HistoryOutcome::PossiblyDelivered,
          db::HistoryOutcome::Failed, db::HistoryOutcome::Suppressed, db::HistoryOutcome::Unsent})
        m_outcome->addItem(send::outcomeText(o), int(o));
    auto* findLabel = new QLabel(str(ids::kHistoryFilterLabel));
    m_text = named(new QLineEdit, "textFilter", str(ids::kHistoryFilterLabel));
    findLabel->setBuddy(m_text);
    QTableView* table = tableOver(m_model.get(), "recipients", title);
    QPushButton* csv = button(ids::kHistoryExportCsv, "exportCsv");
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);

    auto* filters = new QHBoxLayout;
    filters->addWidget(m_outcome);
    filters->addWidget(findLabel);
    filters->addWidget(m_text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(csv);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(table);
    layout->addLayout(buttons);

    connect(m_outcome, &QComboBox::currentIndexChanged, this, &d_CampaignRecipients::applyFilter);
    connect(m_text, &QLineEdit::textChanged, this, &d_CampaignRecipients::applyFilter);
    connect(csv, &QPushButton::clicked, this, &d_CampaignRecipients::exportCsv);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    applyFilter();
}

d_CampaignRecipients::~d_CampaignRecipients() = default;

void d_CampaignRecipients::applyFilter() {
    if (m_model->setFilter({m_outcome->currentData().toInt(), m_text->text()}) ==
        db::HistoryRead::Failed)
        tellReadFailure(m_ui, m_model->store());
}

void d_CampaignRecipients::exportCsv() {
    FileRequest request;
    request.mode = FileChoice::SaveFile;
    request.caption = QString(str(ids::kHistoryExportCsv)).remove(QStringLiteral("..."));
    request.filters = str(ids::kHistoryCsvFilter);
    request.defaultSuffix = QStringLiteral("csv");
    const QStringList files = m_ui.chooseFiles(request);
    if (files.isEmpty())
        return;
    QSaveFile file(files.first());
    const bool written =
        file.open(QIODevice::WriteOnly) &&
        send::writeRecipientsCsv(m_model->store(), m_model->campaign(), m_model->filter(), file) ==
            db::HistoryRead::Read &&
        file.commit();
    if (!written)
        (void)m_ui.message(productName(),
                           str(ids::kHistoryFileFailed).arg(files.first(), file.errorString()),
                           MessageKind::Information);
}

// ---- one address ----

d_AddressHistory::d_AddressHistory(QString userDataFolder, const QString& address, QWidget* parent)
    : QDialog(parent),
      m_model(std::make_unique<send::AddressHistoryModel>(std::move(userDataFolder), address)) {
    const QString title = str(ids::kHistoryAddressTitle).arg(address);
    setWindowTitle(title);
    setSizeGripEnabled(true);
    resize(760, 400);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tableOver(m_model.get(), "addressCampaigns", title));
    layout->addWidget(close);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    (void)m_model->reload();  // an unreadable history shows empty
}

d_AddressHistory::~d_AddressHistory() = default;

}  // namespace pw::app
