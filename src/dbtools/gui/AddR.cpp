#include "dbtools/gui/AddR.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "resources/Strings.h"

namespace pw::dbtools {

AddR::AddR(EditorSession& editor, RecordFormMode mode, QWidget* parent)
    : QDialog(parent), m_form(editor, mode) {
    setObjectName(QStringLiteral("AddR"));
    auto* rows = new QWidget;
    auto* grid = new QGridLayout(rows);
    grid->setVerticalSpacing(1);
    grid->setContentsMargins(11, 6, 11, 6);
    for (int i = 0; i < db::kFieldCount; ++i) {
        m_labels[i] = new QLabel(m_form.labels()[i]);
        m_labels[i]->setObjectName(QStringLiteral("label%1").arg(1006 + i));
        m_labels[i]->setFrameShape(QFrame::Box);
        m_edits[i] = new QLineEdit;
        m_edits[i]->setObjectName(QStringLiteral("edit%1").arg(1004 + i));
        m_edits[i]->setAccessibleName(m_form.labels()[i]);
        m_labels[i]->setBuddy(m_edits[i]);
        grid->addWidget(m_labels[i], i, 0);
        grid->addWidget(m_edits[i], i, 1);
    }
    auto* scroll = new QScrollArea;
    scroll->setWidget(rows);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);

    m_done = new QPushButton(str(ids::kDone));
    m_done->setObjectName(QStringLiteral("done"));
    m_next = new QPushButton(m_form.nextButtonText());
    m_next->setObjectName(QStringLiteral("button1030"));
    m_cancel = new QPushButton(str(ids::kCancel));
    m_cancel->setObjectName(QStringLiteral("cancel"));
    for (QPushButton* b : {m_done, m_next, m_cancel})
        b->setAccessibleName(b->text());
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_next);
    buttons->addWidget(m_done);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll);
    layout->addLayout(buttons);

    connect(m_done, &QPushButton::clicked, this, &AddR::done);
    connect(m_next, &QPushButton::clicked, this, &AddR::nextOne);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    setWindowTitle(m_form.title());
    fill();
    resize(520, 600);
}

RecordForm::Values AddR::values() const {
    RecordForm::Values v;
    for (int i = 0; i < db::kFieldCount; ++i)
        v[i] = m_edits[i]->text();
    return v;
}

void AddR::fill() {
    const RecordForm::Values v = m_form.currentValues();
    for (int i = 0; i < db::kFieldCount; ++i)
        m_edits[i]->setText(v[i]);
    m_next->setEnabled(m_form.nextEnabled());
    m_next->setDefault(m_form.nextIsDefault());
    m_done->setDefault(!m_form.nextIsDefault());
    m_edits[0]->setFocus();
}

bool AddR::saveShown() {
    int bad = -1;
    const SaveOutcome out = m_form.save(values(), &bad);
    if (out == SaveOutcome::TooLong && bad >= 0) {
        m_edits[bad]->setFocus();
        m_edits[bad]->selectAll();
    }
    return out == SaveOutcome::Saved;
}

bool AddR::done() {
    if (!saveShown())
        return false;
    accept();
    return true;
}

bool AddR::nextOne() {
    if (!m_next->isEnabled() || !saveShown())
        return false;
    m_form.next();
    fill();
    return true;
}

}  // namespace pw::dbtools
