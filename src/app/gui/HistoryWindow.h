#pragma once
// The "Campaign History" window: the campaigns as a table and as charts (the report page the
// program writes, shown in the HTML view and printed to PDF), a campaign's recipients,
// filtered and exported as CSV, and one address's campaigns. Thin views over the models of
// send/HistoryModels.

#include <QDialog>
#include <QTemporaryDir>
#include <memory>

#include "send/HistoryModels.h"

namespace Ui {
class d_History;
class d_CampaignRecipients;
class d_AddressHistory;
}  // namespace Ui

namespace pw {
class IUserInteraction;
}  // namespace pw

namespace pw::app {

class d_History : public QDialog {
    Q_OBJECT
public:
    d_History(QString userDataFolder, IUserInteraction& ui, QWidget* parent = nullptr);
    ~d_History() override;

    [[nodiscard]] send::CampaignListModel& campaigns() { return *m_campaigns; }
    // The page the charts tab shows (and the PDF holds).
    [[nodiscard]] const QString& reportPath() const { return m_reportPath; }
    void openSelectedCampaign();
    // Asks for a file and prints the report into it; the file's path, empty when none.
    QString exportPdf();

signals:
    void pdfWritten(const QString& path, bool ok);

private:
    void writeReport();

    std::unique_ptr<Ui::d_History> m_form;
    QString m_folder;
    IUserInteraction& m_ui;
    std::unique_ptr<send::CampaignListModel> m_campaigns;
    QTemporaryDir m_pages;
    QString m_reportPath;
};

class d_CampaignRecipients : public QDialog {
    Q_OBJECT
public:
    d_CampaignRecipients(QString userDataFolder, const db::CampaignRow& campaign,
                         IUserInteraction& ui, QWidget* parent = nullptr);
    ~d_CampaignRecipients() override;
    [[nodiscard]] send::CampaignRecipientsModel& recipients() { return *m_model; }
    void applyFilter();
    void exportCsv();

private:
    std::unique_ptr<Ui::d_CampaignRecipients> m_form;
    IUserInteraction& m_ui;
    std::unique_ptr<send::CampaignRecipientsModel> m_model;
};

class d_AddressHistory : public QDialog {
    Q_OBJECT
public:
    d_AddressHistory(QString userDataFolder, const QString& address, QWidget* parent = nullptr);
    ~d_AddressHistory() override;
    [[nodiscard]] send::AddressHistoryModel& campaigns() { return *m_model; }

private:
    std::unique_ptr<Ui::d_AddressHistory> m_form;
    std::unique_ptr<send::AddressHistoryModel> m_model;
};

}  // namespace pw::app
