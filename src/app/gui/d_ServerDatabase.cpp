#include "app/gui/d_ServerDatabase.h"

#include <QPushButton>

#include "resources/Strings.h"
#include "ui_d_ServerDatabase.h"

namespace pw::app {

namespace {

void label(QLabel* l, QWidget* field, int text) {
    l->setText(str(text));
    field->setAccessibleName(str(text));
}

}  // namespace

d_ServerDatabase::d_ServerDatabase(QWidget* parent)
    : QDialog(parent), m_form(std::make_unique<Ui::d_ServerDatabase>()) {
    m_form->setupUi(this);
    setWindowTitle(str(ids::kServerDbCaption));
    label(m_form->hostLabel, m_form->host, ids::kServerDbHost);
    label(m_form->portLabel, m_form->port, ids::kServerDbPort);
    label(m_form->databaseLabel, m_form->database, ids::kServerDbDatabase);
    label(m_form->userLabel, m_form->user, ids::kServerDbUser);
    label(m_form->passwordLabel, m_form->password, ids::kServerDbPassword);
    m_form->buttons->setAccessibleName(str(ids::kServerDbCaption));
    connect(m_form->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_form->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QLineEdit* e : {m_form->host, m_form->database, m_form->user})
        connect(e, &QLineEdit::textChanged, this, &d_ServerDatabase::updateOk);
    updateOk();
}

d_ServerDatabase::~d_ServerDatabase() = default;

void d_ServerDatabase::updateOk() {
    m_form->buttons->button(QDialogButtonBox::Ok)
        ->setEnabled(!m_form->host->text().trimmed().isEmpty() &&
                     !m_form->database->text().trimmed().isEmpty() &&
                     !m_form->user->text().trimmed().isEmpty());
}

db::ServerLogin d_ServerDatabase::login() const {
    return {db::ServerConnectionName(m_form->host->text().trimmed(), m_form->port->value(),
                                     m_form->database->text().trimmed()),
            m_form->user->text().trimmed(), m_form->password->text()};
}

}  // namespace pw::app
