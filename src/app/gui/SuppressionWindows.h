#pragma once
// The suppression list window (list, search, add, import, remove, export) and the project's
// unsubscribe settings dialog: thin views over dbtools::SuppressionListModel and
// send::saveUnsubscribeSettings.

#include <QDialog>
#include <memory>

#include "db/SuppressionList.h"
#include "db/TDbData.h"
#include "dbtools/SuppressionTools.h"
#include "resources/UserInteraction.h"
#include "send/Unsubscribe.h"

namespace Ui {
class d_SuppressionList;
class d_Unsubscribe;
}  // namespace Ui

namespace pw::app {

class d_SuppressionList : public QDialog {
    Q_OBJECT
public:
    d_SuppressionList(db::CSuppressionList list, IUserInteraction& ui, QWidget* parent = nullptr);
    ~d_SuppressionList() override;

    [[nodiscard]] dbtools::SuppressionListModel& model() { return *m_model; }
    void addByHand();
    void importFile();
    void removeSelected();
    void exportShown();

private:
    void updateCount();

    std::unique_ptr<Ui::d_SuppressionList> m_form;
    IUserInteraction& m_ui;
    db::CSuppressionList m_list;
    std::unique_ptr<dbtools::SuppressionListModel> m_model;
};

class d_Unsubscribe : public QDialog {
    Q_OBJECT
public:
    d_Unsubscribe(db::TDbData& store, IUserInteraction& ui, QWidget* parent = nullptr);
    ~d_Unsubscribe() override;

    [[nodiscard]] send::UnsubscribeSettings settings() const;
    void accept() override;

private:
    std::unique_ptr<Ui::d_Unsubscribe> m_form;
    // The default footers with the address field's own placeholder.
    [[nodiscard]] QString defaultText(Language language) const;
    [[nodiscard]] QString defaultHtml(Language language) const;
    db::TDbData& m_store;
    IUserInteraction& m_ui;
};

}  // namespace pw::app
