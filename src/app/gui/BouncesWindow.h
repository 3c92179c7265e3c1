#pragma once
// The "Bounces and Replies" window: a thin view over bounces::BounceListModel, the mailbox
// read now and the decisions undone through the same logic the command line uses.

#include <QDialog>
#include <functional>
#include <memory>

#include "bounces/BounceListModel.h"

namespace Ui {
class d_Bounces;
}

namespace pw::app {

class d_Bounces : public QDialog {
    Q_OBJECT
public:
    d_Bounces(QString userDataFolder, bounces::MailboxAccount account, bounces::SoftBounceRule rule,
              IUserInteraction& ui, QWidget* parent = nullptr);
    ~d_Bounces() override;

    [[nodiscard]] bounces::BounceListModel& reports() { return *m_reports; }
    [[nodiscard]] bounces::BounceListModel& unrecognised() { return *m_unrecognised; }
    void readNow();
    void undoSelected();
    // Where the reports folder the user enters is kept (the settings file).
    void setReportFolderStore(std::function<void(const QString&)> store) {
        m_storeReportFolder = std::move(store);
    }

private:
    void reload();
    void showReport(const bounces::BounceListModel& model, const QModelIndex& index);

    std::unique_ptr<Ui::d_Bounces> m_form;
    QString m_folder;
    bounces::MailboxAccount m_account;
    bounces::SoftBounceRule m_rule;
    IUserInteraction& m_ui;
    std::unique_ptr<bounces::BounceListModel> m_reports;
    std::unique_ptr<bounces::BounceListModel> m_unrecognised;
    std::function<void(const QString&)> m_storeReportFolder;
};

}  // namespace pw::app
