#include "dbtools/gui/d_Filtering.h"

#include <QPushButton>

#include "db/TDbData.h"
#include "resources/Strings.h"
#include "ui_d_Filtering.h"

namespace pw::dbtools {

d_Filtering::d_Filtering(db::TDbData& store, bool viewEmpty, QWidget* parent)
    : QDialog(parent), m_store(store), m_ui(std::make_unique<Ui::d_Filtering>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kFilterTitle));
    m_ui->itemLabel->setText(str(ids::kFilterItem));
    m_ui->textLabel->setText(str(ids::kFilterText));
    m_ui->itemLabel->setBuddy(m_ui->item1128);
    m_ui->textLabel->setBuddy(m_ui->text1094);
    m_ui->item1128->setAccessibleName(str(ids::kFilterItem));
    m_ui->text1094->setAccessibleName(str(ids::kFilterText));
    const std::pair<QRadioButton*, int> radios[] = {{m_ui->match1039, ids::kFilterMatch},
                                                    {m_ui->include1040, ids::kFilterInclude},
                                                    {m_ui->exclude1086, ids::kFilterExclude}};
    for (const auto& [button, text] : radios) {
        button->setText(str(text));
        button->setAccessibleName(str(text));
    }
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setText(str(ids::kOk));
    m_ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(str(ids::kCancel));
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (!viewEmpty) {
        for (const QString& caption : store.FieldCaptions().Captions())
            m_ui->item1128->addItem(caption);
        m_ui->item1128->setCurrentIndex(0);
        fillValues(0);
    }
    connect(m_ui->item1128, &QComboBox::currentIndexChanged, this, &d_Filtering::fillValues);
}

d_Filtering::~d_Filtering() = default;

void d_Filtering::fillValues(int field) {
    m_ui->text1094->clear();
    m_ui->text1094->addItems(DistinctFieldValues(m_store, field));
    if (m_ui->text1094->count() > 0)
        m_ui->text1094->setCurrentIndex(0);
}

FilterChoice d_Filtering::choice() const {
    FilterChoice c;
    c.field = m_ui->item1128->currentIndex();
    c.text = m_ui->text1094->currentText();
    c.kind = m_ui->match1039->isChecked()     ? FilterKind::Match
             : m_ui->include1040->isChecked() ? FilterKind::Include
                                              : FilterKind::Exclude;
    return c;
}

}  // namespace pw::dbtools
