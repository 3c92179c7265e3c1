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

void d_ServerDatabase::prefill(const QString& connection, const QString& user) {
    const qsizetype colon = connection.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return;
    const QString server = connection.left(colon);
    const qsizetype slash = server.indexOf(QLatin1Char('/'));
    m_form->host->setText(server.left(slash));
    if (slash > 0)
        m_form->port->setValue(server.mid(slash + 1).toInt());
    m_form->database->setText(connection.mid(colon + 1));
    m_form->user->setText(user);
}

db::ServerLogin d_ServerDatabase::login() const {
    return {db::ServerConnectionName(m_form->host->text().trimmed(), m_form->port->value(),
                                     m_form->database->text().trimmed()),
            m_form->user->text().trimmed(), m_form->password->text()};
}

}  // namespace pw::app
