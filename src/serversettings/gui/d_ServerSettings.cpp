#include "serversettings/gui/d_ServerSettings.h"

#include <QHeaderView>
#include <QPushButton>

#include "resources/Strings.h"
#include "serversettings/ServerListModel.h"
#include "serversettings/gui/d_AdvSettings.h"
#include "ui_d_ServerSettings.h"

namespace pw::serversettings {

d_ServerSettings::d_ServerSettings(CServerSettingsEditor& editor, IUserInteraction& ui,
                                   send::CSendLog& log, ConnectionTestHooks hooks, QWidget* parent)
    : QDialog(parent),
      m_form(std::make_unique<Ui::d_ServerSettings>()),
      m_editor(editor),
      m_ui(ui),
      m_log(log),
      m_hooks(std::move(hooks)) {
    Ui::d_ServerSettings& f = *m_form;
    f.setupUi(this);
    setWindowTitle(str(ids::kSsCaption));
    f.standardGroup->setTitle(str(ids::kSsStandardGroup));
    f.projectGroup->setTitle(str(ids::kSsProjectGroup));
    f.listGroup->setTitle(str(ids::kSsListGroup));
    f.serverList->setAccessibleName(str(ids::kSsListGroup));
    const auto field = [](QLabel* l, QLineEdit* e, int id) {
        l->setText(str(id));
        e->setAccessibleName(str(id));
    };
    field(f.fromLabel, f.fromEdit, ids::kSsFrom);
    field(f.nameLabel, f.nameEdit, ids::kSsName);
    field(f.smtpServerLabel, f.smtpServerEdit, ids::kSsSmtpServer);
    field(f.popServerLabel, f.popServerEdit, ids::kSsPopServer);
    field(f.userIdLabel, f.userIdEdit, ids::kSsUserId);
    field(f.passwordLabel, f.passwordEdit, ids::kSsPassword);
    field(f.projectSmtpServerLabel, f.projectSmtpServerEdit, ids::kSsSmtpServer);
    field(f.projectPopServerLabel, f.projectPopServerEdit, ids::kSsPopServer);
    field(f.projectUserIdLabel, f.projectUserIdEdit, ids::kSsUserId);
    field(f.projectPasswordLabel, f.projectPasswordEdit, ids::kSsPassword);
    const auto button = [this](QPushButton* b, int id, void (d_ServerSettings::*command)()) {
        b->setText(str(id));
        b->setAccessibleName(str(id));
        connect(b, &QPushButton::clicked, this, command);
    };
    button(f.addToListButton, ids::kSsAddToList, &d_ServerSettings::addStandardToList);
    button(f.settingsButton, ids::kSsSettings, &d_ServerSettings::openAdvanced);
    button(f.testConnectionButton, ids::kSsTestConnection, &d_ServerSettings::testConnection);
    button(f.projectAddToListButton, ids::kSsAddToListProject, &d_ServerSettings::addProjectToList);
    button(f.copyUpButton, ids::kSsCopyUp, &d_ServerSettings::copyUp);
    button(f.copyDownButton, ids::kSsCopyDown, &d_ServerSettings::copyDown);
    button(f.clearButton, ids::kSsClear, &d_ServerSettings::clearProject);
    button(f.useAsStandardButton, ids::kSsUseAsStandard, &d_ServerSettings::useAsStandard);
    button(f.useAsProjectButton, ids::kSsUseAsProject, &d_ServerSettings::useAsProject);
    button(f.deleteButton, ids::kSsDelete, &d_ServerSettings::deleteSelected);
    f.buttonBox->button(QDialogButtonBox::Ok)->setText(str(ids::kSsOk));
    f.buttonBox->button(QDialogButtonBox::Cancel)->setText(str(ids::kSsCancel));
    connect(f.buttonBox, &QDialogButtonBox::accepted, this, &d_ServerSettings::accept);
    connect(f.buttonBox, &QDialogButtonBox::rejected, this, &d_ServerSettings::reject);

    m_model = new CServerListModel(m_editor.list(), this);
    f.serverList->setModel(m_model);
    f.serverList->horizontalHeader()->setStretchLastSection(true);
    f.serverList->verticalHeader()->hide();
    push();
}

d_ServerSettings::~d_ServerSettings() = default;

void d_ServerSettings::pull() {
    const Ui::d_ServerSettings& f = *m_form;
    ServerSettingsValues& v = m_editor.values();
    v.standard.from = f.fromEdit->text();
    v.standard.name = f.nameEdit->text();
    v.standard.smtpServer = f.smtpServerEdit->text();
    v.standard.popServer = f.popServerEdit->text();
    v.standard.userId = f.userIdEdit->text();
    v.standard.password = f.passwordEdit->text();
    v.project.smtpServer = f.projectSmtpServerEdit->text();
    v.project.popServer = f.projectPopServerEdit->text();
    v.project.userId = f.projectUserIdEdit->text();
    v.project.password = f.projectPasswordEdit->text();
}

void d_ServerSettings::push() {
    Ui::d_ServerSettings& f = *m_form;
    const ServerSettingsValues& v = m_editor.values();
    f.fromEdit->setText(v.standard.from);
    f.nameEdit->setText(v.standard.name);
    f.smtpServerEdit->setText(v.standard.smtpServer);
    f.popServerEdit->setText(v.standard.popServer);
    f.userIdEdit->setText(v.standard.userId);
    f.passwordEdit->setText(v.standard.password);
    f.projectSmtpServerEdit->setText(v.project.smtpServer);
    f.projectPopServerEdit->setText(v.project.popServer);
    f.projectUserIdEdit->setText(v.project.userId);
    f.projectPasswordEdit->setText(v.project.password);
}

int d_ServerSettings::selectedRow() const {
    const QModelIndexList rows = m_form->serverList->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void d_ServerSettings::addStandardToList() {
    pull();
    if (m_editor.addStandardToList())
        m_model->reload();
}

void d_ServerSettings::addProjectToList() {
    pull();
    if (m_editor.addProjectToList())
        m_model->reload();
}

void d_ServerSettings::useAsStandard() {
    pull();
    m_editor.useAsStandard(selectedRow());
    push();
}

void d_ServerSettings::useAsProject() {
    pull();
    m_editor.useAsProject(selectedRow());
    push();
}

void d_ServerSettings::deleteSelected() {
    const int row = selectedRow();
    if (row < 0)
        return;
    m_editor.remove(row);
    m_model->reload();
}

void d_ServerSettings::copyUp() {
    pull();
    m_editor.copyUp();
    push();
}

void d_ServerSettings::copyDown() {
    pull();
    m_editor.copyDown();
    push();
}

void d_ServerSettings::clearProject() {
    pull();
    m_editor.clearProject();
    push();
}

void d_ServerSettings::openAdvanced() {
    pull();
    d_AdvSettings dialog(m_editor.values().standard, m_editor.values().oauth, m_ui, this,
                         sendingProfileOf(m_editor.values()));
    m_advanced = &dialog;
    if (dialog.exec() == QDialog::Accepted) {
        m_editor.values().standard = dialog.values();
        m_editor.values().oauth = dialog.oauth();
        setSendingProfile(m_editor.values(), dialog.sendingProfile());
    }
    m_advanced = nullptr;
}

void d_ServerSettings::setRunLocked(bool locked) {
    m_runLocked = locked;
    m_form->testConnectionButton->setEnabled(!locked && !m_testing);
}

void d_ServerSettings::testConnection() {
    // one test at a time: its wait runs an event loop of its own
    if (m_testing || (m_hooks.runRefuses && m_hooks.runRefuses()))
        return;
    pull();
    m_testing = true;
    m_form->testConnectionButton->setEnabled(false);
    (void)runConnectionTestFlow(m_editor, m_ui, m_log, m_hooks);
    m_testing = false;
    m_form->testConnectionButton->setEnabled(!m_runLocked);
}

void d_ServerSettings::accept() {
    pull();
    if (!m_editor.checkForOk())
        return;
    QDialog::accept();
}

}  // namespace pw::serversettings
