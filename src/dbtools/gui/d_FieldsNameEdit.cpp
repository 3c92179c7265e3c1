#include "dbtools/gui/d_FieldsNameEdit.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "db/TDbData.h"
#include "resources/Strings.h"

namespace pw::dbtools {

d_FieldsNameEdit::d_FieldsNameEdit(db::TDbData& store, IUserInteraction& ui,
                                   std::function<void()> documentModified, QWidget* parent)
    : QDialog(parent), m_store(store), m_ui(ui), m_documentModified(std::move(documentModified)) {
    setObjectName(QStringLiteral("d_FieldsNameEdit"));
    setWindowTitle(str(ids::kFieldNamesTitle));
    try {
        m_store.FieldCaptions().LoadCaptions();
    } catch (const db::StoreError& e) {
        m_store.ReportDroppedError("Reading the field names", e);
    }
    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(1);
    grid->setContentsMargins(11, 6, 11, 6);
    for (int i = 0; i < db::kFieldCount; ++i) {
        m_labels[i] = new QLabel(str(ids::kFieldLabel).arg(i + 1));
        m_labels[i]->setObjectName(QStringLiteral("label%1").arg(1006 + i));
        m_labels[i]->setFrameShape(QFrame::Box);
        m_labels[i]->installEventFilter(this);
        m_edits[i] = new QLineEdit(m_store.FieldCaptions().Captions()[i]);
        m_edits[i]->setObjectName(QStringLiteral("edit%1").arg(1004 + i));
        m_edits[i]->setAccessibleName(m_labels[i]->text().trimmed());
        m_labels[i]->setBuddy(m_edits[i]);
        grid->addWidget(m_labels[i], i, 0);
        grid->addWidget(m_edits[i], i, 1);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(str(ids::kOk));
    buttons->button(QDialogButtonBox::Cancel)->setText(str(ids::kCancel));
    connect(buttons, &QDialogButtonBox::accepted, this, &d_FieldsNameEdit::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    m_edits[0]->setFocus();
    m_edits[0]->selectAll();
}

void d_FieldsNameEdit::accept() {
    Captions edited;
    for (int i = 0; i < db::kFieldCount; ++i)
        edited[i] = m_edits[i]->text();
    int bad = -1;
    m_result = SaveFieldNames(m_store, m_ui, edited, m_documentModified, &bad);
    if (m_result == FieldNamesResult::Refused) {
        // The user mends the name; nothing was written.
        if (bad >= 0) {
            m_edits[bad]->setFocus();
            m_edits[bad]->selectAll();
        }
        return;
    }
    QDialog::accept();
}

bool d_FieldsNameEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        for (int i = 0; i < db::kFieldCount; ++i) {
            if (watched == m_labels[i]) {
                m_edits[i]->setFocus();
                m_edits[i]->selectAll();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace pw::dbtools
