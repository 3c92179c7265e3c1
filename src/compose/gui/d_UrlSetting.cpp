#include "compose/gui/d_UrlSetting.h"

#include <QPushButton>

#include "compose/gui/ColorChooser.h"
#include "resources/Strings.h"
#include "ui_d_UrlSetting.h"

namespace pw {

d_UrlSetting::d_UrlSetting(const QString& text, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_UrlSetting>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kUrlSettingTitle));
    m_ui->urlLabel->setText(str(ids::kUrlSettingLabel));
    nameForAccessibility(m_ui->url, str(ids::kUrlSettingLabel));
    m_ui->buttons->button(QDialogButtonBox::Ok)->setText(str(ids::kButtonOk));
    m_ui->buttons->button(QDialogButtonBox::Cancel)->setText(str(ids::kButtonCancel));
    m_ui->url->setText(text);
    connect(m_ui->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

d_UrlSetting::~d_UrlSetting() = default;

QString d_UrlSetting::text() const {
    return m_ui->url->text();
}

}  // namespace pw
