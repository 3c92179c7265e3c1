#include "serversettings/gui/d_AdvSettings.h"

#include <QPushButton>

#include "resources/Strings.h"
#include "ui_d_AdvSettings.h"

namespace pw::serversettings {

namespace {
void label(QWidget* w, int id) {
    w->setAccessibleName(str(id));
}
}  // namespace

d_AdvSettings::d_AdvSettings(const AdvancedValues& values, const StandardFields& standard,
                             IUserInteraction& ui, QWidget* parent)
    : QDialog(parent),
      m_form(std::make_unique<Ui::d_AdvSettings>()),
      m_values(values),
      m_standard(standard),
      m_ui(ui) {
    Ui::d_AdvSettings& f = *m_form;
    f.setupUi(this);
    setWindowTitle(str(ids::kAdvCaption));
    f.portLabel->setText(str(ids::kAdvPort));
    label(f.portEdit, ids::kAdvPort);
    f.connectionTypeLabel->setText(str(ids::kAdvConnectionType));
    label(f.connectionTypeCombo, ids::kAdvConnectionType);
    f.connectionTypeCombo->addItems(
        {str(ids::kAdvTypeNone), str(ids::kAdvTypeSsl), str(ids::kAdvTypeStartTls)});
    f.acceptUnverifiedCheck->setText(str(ids::kAdvAcceptUnverified));
    label(f.acceptUnverifiedCheck, ids::kAdvAcceptUnverified);
    f.unverifiedWarning->setText(str(ids::kAdvUnverifiedWarning));
    f.unverifiedWarning->setAccessibleName(str(ids::kAdvWarning));
    f.authRequiredCheck->setText(str(ids::kAdvAuthRequired));
    label(f.authRequiredCheck, ids::kAdvAuthRequired);
    f.methodLabel->setText(str(ids::kAdvMethod));
    label(f.methodCombo, ids::kAdvMethod);
    f.methodCombo->addItems({str(ids::kAdvMethodPassword), str(ids::kAdvMethodCram)});
    f.sameAsPopRadio->setText(str(ids::kAdvSameAsPop));
    label(f.sameAsPopRadio, ids::kAdvSameAsPop);
    f.logOnUsingRadio->setText(str(ids::kAdvLogOnUsing));
    label(f.logOnUsingRadio, ids::kAdvLogOnUsing);
    f.userNameLabel->setText(str(ids::kAdvUserName));
    label(f.userNameEdit, ids::kAdvUserName);
    f.passwordLabel->setText(str(ids::kAdvPassword));
    label(f.passwordEdit, ids::kAdvPassword);
    f.clearTextWarning->setText(str(ids::kAdvClearTextWarning));
    f.clearTextWarning->setAccessibleName(str(ids::kAdvWarning));
    f.buttonBox->button(QDialogButtonBox::Ok)->setText(str(ids::kSsOk));
    f.buttonBox->button(QDialogButtonBox::Cancel)->setText(str(ids::kSsCancel));

    const AdvancedForm form = advancedFormFor(values);
    f.portEdit->setText(form.portText);
    f.connectionTypeCombo->setCurrentIndex(form.connectionIndex);
    f.acceptUnverifiedCheck->setChecked(form.acceptUnverified);
    f.authRequiredCheck->setChecked(form.authRequired);
    f.methodCombo->setCurrentIndex(form.methodIndex);
    f.sameAsPopRadio->setChecked(form.credentials == AdvancedForm::Credentials::SameAsPop);
    f.logOnUsingRadio->setChecked(form.credentials == AdvancedForm::Credentials::LogOnUsing);
    f.userNameEdit->setText(form.userName);
    f.passwordEdit->setText(form.password);

    connect(f.buttonBox, &QDialogButtonBox::accepted, this, &d_AdvSettings::accept);
    connect(f.buttonBox, &QDialogButtonBox::rejected, this, &d_AdvSettings::reject);
    connect(f.authRequiredCheck, &QCheckBox::toggled, this, &d_AdvSettings::updateEnabled);
    connect(f.logOnUsingRadio, &QRadioButton::toggled, this, &d_AdvSettings::updateEnabled);
    connect(f.acceptUnverifiedCheck, &QCheckBox::toggled, this, &d_AdvSettings::updateEnabled);
    connect(f.connectionTypeCombo, &QComboBox::currentIndexChanged, this,
            &d_AdvSettings::updateEnabled);
    updateEnabled();
}

d_AdvSettings::~d_AdvSettings() = default;

AdvancedForm d_AdvSettings::form() const {
    const Ui::d_AdvSettings& f = *m_form;
    AdvancedForm form;
    form.portText = f.portEdit->text();
    form.connectionIndex = f.connectionTypeCombo->currentIndex();
    form.acceptUnverified = f.acceptUnverifiedCheck->isChecked();
    form.authRequired = f.authRequiredCheck->isChecked();
    form.methodIndex = f.methodCombo->currentIndex();
    form.credentials = f.sameAsPopRadio->isChecked()    ? AdvancedForm::Credentials::SameAsPop
                       : f.logOnUsingRadio->isChecked() ? AdvancedForm::Credentials::LogOnUsing
                                                        : AdvancedForm::Credentials::Neither;
    form.userName = f.userNameEdit->text();
    form.password = f.passwordEdit->text();
    return form;
}

void d_AdvSettings::updateEnabled() {
    Ui::d_AdvSettings& f = *m_form;
    const AdvancedForm current = form();
    f.authGroup->setEnabled(current.authRequired);
    const bool own = current.credentials == AdvancedForm::Credentials::LogOnUsing;
    f.userNameEdit->setEnabled(own);
    f.passwordEdit->setEnabled(own);
    f.unverifiedWarning->setVisible(current.acceptUnverified);
    f.clearTextWarning->setVisible(sendsPasswordInClear(current));
}

void d_AdvSettings::accept() {
    const AdvancedForm current = form();
    const AdvancedCheck check = checkAdvancedForm(current);
    if (check.messageId != 0) {
        (void)m_ui.message(str(ids::kAdvCaption), str(check.messageId), MessageKind::Information);
        Ui::d_AdvSettings& f = *m_form;
        switch (check.focus) {
            case AdvancedForm::Field::Port:
                f.portEdit->setFocus();
                f.portEdit->selectAll();
                break;
            case AdvancedForm::Field::Method:
                f.methodCombo->setFocus();
                break;
            case AdvancedForm::Field::UserName:
                f.userNameEdit->setFocus();
                break;
            case AdvancedForm::Field::Password:
                f.passwordEdit->setFocus();
                break;
            case AdvancedForm::Field::None:
                break;
        }
        return;
    }
    m_values = advancedValuesFrom(current, m_standard);
    QDialog::accept();
}

}  // namespace pw::serversettings
