#include "app/gui/HistoryWindow.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPageLayout>
#include <QPageSize>
#include <QPushButton>
#include <QSaveFile>
#include <QWebEnginePage>

#include "compose/gui/CWebBrowser.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"
#include "send/HistoryReport.h"
#include "ui_d_AddressHistory.h"
#include "ui_d_CampaignRecipients.h"
#include "ui_d_History.h"

namespace pw::app {

namespace {

// What a screen reader says for a text of the table: no accelerator mark, no "...".
QString spoken(const QString& text) {
    return QString(text).remove(u'&').remove(QStringLiteral("..."));
}

void label(QAbstractButton* button, int text) {
    button->setText(str(text));
    button->setAccessibleName(spoken(str(text)));
}

void showModel(QTableView* view, QAbstractItemModel* model, const QString& name) {
    view->setAccessibleName(name);
    view->setModel(model);
    view->horizontalHeader()->setStretchLastSection(true);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    // every heading readable ("Possibly delivered" is wider than a default column)
    QObject::connect(model, &QAbstractItemModel::modelReset, view,
                     [view] { view->resizeColumnsToContents(); });
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
      m_form(std::make_unique<Ui::d_History>()),
      m_folder(std::move(userDataFolder)),
      m_ui(ui),
      m_campaigns(std::make_unique<send::CampaignListModel>(m_folder)) {
    m_form->setupUi(this);
    const QString title = str(ids::kHistoryTitle);
    const QString charts = str(ids::kHistoryChartOutcomes);
    setWindowTitle(title);
    m_form->tabs->setTabText(0, title);
    m_form->tabs->setTabText(1, charts);
    m_form->tabs->setAccessibleName(title);
    m_form->charts->setAccessibleName(charts);
    m_form->closeButtons->setAccessibleName(title);
    label(m_form->openCampaign, ids::kHistoryOpenCampaign);
    label(m_form->exportPdf, ids::kHistoryExportPdf);
    showModel(m_form->campaigns, m_campaigns.get(), title);

    const auto allowOpen = [this] {
        m_form->openCampaign->setEnabled(m_form->campaigns->currentIndex().isValid());
    };
    connect(m_form->campaigns->selectionModel(), &QItemSelectionModel::currentChanged, this,
            allowOpen);
    connect(m_campaigns.get(), &QAbstractItemModel::modelReset, this, allowOpen);
    connect(m_form->openCampaign, &QPushButton::clicked, this, &d_History::openSelectedCampaign);
    connect(m_form->campaigns, &QTableView::doubleClicked, this, &d_History::openSelectedCampaign);
    connect(m_form->exportPdf, &QPushButton::clicked, this, [this] { (void)exportPdf(); });
    connect(m_form->closeButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_form->charts->page(), &QWebEnginePage::pdfPrintingFinished, this,
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
        m_form->charts->navigate(m_reportPath);
}

void d_History::openSelectedCampaign() {
    const db::CampaignRow* row = m_campaigns->campaign(m_form->campaigns->currentIndex().row());
    if (!row)
        return;
    d_CampaignRecipients dialog(m_folder, *row, m_ui, this);
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
    m_form->charts->page()->printToPdf(
        files.first(),
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10)));
    return files.first();
}

// ---- a campaign's recipients ----

d_CampaignRecipients::d_CampaignRecipients(QString userDataFolder, const db::CampaignRow& campaign,
                                           IUserInteraction& ui, QWidget* parent)
    : QDialog(parent),
      m_form(std::make_unique<Ui::d_CampaignRecipients>()),
      m_ui(ui),
      m_model(
          std::make_unique<send::CampaignRecipientsModel>(std::move(userDataFolder), campaign.id)) {
    m_form->setupUi(this);
    const QString title = str(ids::kHistoryRecipientsTitle).arg(campaign.subject);
    setWindowTitle(title);
    m_form->outcomeFilter->setAccessibleName(str(ids::kHistoryColOutcome));
    m_form->outcomeFilter->addItem(str(ids::kHistoryAllOutcomes), 0);
    for (const db::HistoryOutcome o :
         {db::HistoryOutcome::Sent, db::HistoryOutcome::PossiblyDelivered,
          db::HistoryOutcome::Failed, db::HistoryOutcome::Suppressed, db::HistoryOutcome::Unsent})
        m_form->outcomeFilter->addItem(send::outcomeText(o), int(o));
    m_form->findLabel->setText(str(ids::kHistoryFilterLabel));
    m_form->findLabel->setAccessibleName(str(ids::kHistoryFilterLabel));
    m_form->textFilter->setAccessibleName(str(ids::kHistoryFilterLabel));
    m_form->closeButtons->setAccessibleName(title);
    label(m_form->exportCsv, ids::kHistoryExportCsv);
    showModel(m_form->recipients, m_model.get(), title);

    connect(m_form->outcomeFilter, &QComboBox::currentIndexChanged, this,
            &d_CampaignRecipients::applyFilter);
    connect(m_form->textFilter, &QLineEdit::textChanged, this, &d_CampaignRecipients::applyFilter);
    connect(m_form->exportCsv, &QPushButton::clicked, this, &d_CampaignRecipients::exportCsv);
    connect(m_form->closeButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    applyFilter();
}

d_CampaignRecipients::~d_CampaignRecipients() = default;

void d_CampaignRecipients::applyFilter() {
    if (m_model->setFilter({m_form->outcomeFilter->currentData().toInt(),
                            m_form->textFilter->text()}) == db::HistoryRead::Failed)
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
      m_form(std::make_unique<Ui::d_AddressHistory>()),
      m_model(std::make_unique<send::AddressHistoryModel>(std::move(userDataFolder), address)) {
    m_form->setupUi(this);
    const QString title = str(ids::kHistoryAddressTitle).arg(address);
    setWindowTitle(title);
    m_form->closeButtons->setAccessibleName(title);
    showModel(m_form->addressCampaigns, m_model.get(), title);
    connect(m_form->closeButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    (void)m_model->reload();  // an unreadable history shows empty
}

d_AddressHistory::~d_AddressHistory() = default;

}  // namespace pw::app
