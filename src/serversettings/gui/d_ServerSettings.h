#pragma once
// "Server Settings": the standard and project fields, the registered servers, the advanced
// settings and the connection test. A view over CServerSettingsEditor; the caller loads the
// list before and saves it after (whichever way the dialog was closed).

#include <QDialog>
#include <memory>

#include "resources/UserInteraction.h"
#include "send/SendLog.h"
#include "serversettings/ConnectionTestFlow.h"
#include "serversettings/ServerSettingsEditor.h"

namespace Ui {
class d_ServerSettings;
}

namespace pw::serversettings {

class CServerListModel;

class d_ServerSettings : public QDialog {
    Q_OBJECT
public:
    d_ServerSettings(CServerSettingsEditor& editor, IUserInteraction& ui, send::CSendLog& log,
                     ConnectionTestHooks hooks, QWidget* parent = nullptr);
    ~d_ServerSettings() override;

    void accept() override;

    // The commands, as their buttons run them.
    void addStandardToList();
    void addProjectToList();
    void useAsStandard();
    void useAsProject();
    void deleteSelected();
    void copyUp();
    void copyDown();
    void clearProject();
    void openAdvanced();
    void testConnection();

    // A send run began (or ended) while the dialog is open: the connection test, which starts
    // the run's log afresh, is off for its length and refused if it still arrives.
    void setRunLocked(bool locked);

    // Opens the advanced dialog; tests reach it here while it is shown.
    [[nodiscard]] class d_AdvSettings* advancedDialog() const { return m_advanced; }

private:
    void pull();  // fields into the editor
    void push();  // editor into the fields
    [[nodiscard]] int selectedRow() const;

    std::unique_ptr<Ui::d_ServerSettings> m_form;
    CServerSettingsEditor& m_editor;
    IUserInteraction& m_ui;
    send::CSendLog& m_log;
    ConnectionTestHooks m_hooks;
    CServerListModel* m_model = nullptr;
    class d_AdvSettings* m_advanced = nullptr;
    bool m_runLocked = false;
    bool m_testing = false;
};

}  // namespace pw::serversettings
