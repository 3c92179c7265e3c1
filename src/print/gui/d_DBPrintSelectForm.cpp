#include "print/gui/d_DBPrintSelectForm.h"

#include <QListWidgetItem>

#include "print/PrintGrid.h"
#include "resources/Strings.h"
#include "ui_d_DBPrintSelectForm.h"

namespace pw::print {

d_DBPrintSelectForm::d_DBPrintSelectForm(const QStringList& headers, std::vector<bool>& choice,
                                         QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_DBPrintSelectForm>()), m_choice(choice) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::PRINT_SELECT_TITLE));
    m_ui->columnList->setAccessibleName(str(ids::PRINT_COLUMNS));
    m_ui->buttonBox->setAccessibleName(str(ids::PRINT_SELECT_TITLE));
    for (const QString& header : headers) {
        auto* item = new QListWidgetItem(header.left(kCaptionLimit), m_ui->columnList);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &d_DBPrintSelectForm::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &d_DBPrintSelectForm::reject);
}

d_DBPrintSelectForm::~d_DBPrintSelectForm() = default;

void d_DBPrintSelectForm::accept() {
    const int count = m_ui->columnList->count();
    m_choice.assign(static_cast<size_t>(count), true);
    for (int i = 0; i < count; ++i) {
        m_choice[static_cast<size_t>(i)] = m_ui->columnList->item(i)->checkState() == Qt::Checked;
    }
    QDialog::accept();
}

}  // namespace pw::print
