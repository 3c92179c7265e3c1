#pragma once
// "Open Database on Server...": where the shared list is (host, port, path or alias) and who
// signs in. OK is offered once host, database and user are given.

#include <QDialog>
#include <memory>

#include "db/ServerLogin.h"

namespace Ui {
class d_ServerDatabase;
}

namespace pw::app {

class d_ServerDatabase : public QDialog {
    Q_OBJECT
public:
    explicit d_ServerDatabase(QWidget* parent = nullptr);
    ~d_ServerDatabase() override;

    [[nodiscard]] db::ServerLogin login() const;
    // Fills in the server and user of a list opened before ("host/port:path", "host:path").
    void prefill(const QString& connection, const QString& user);

private:
    void updateOk();
    std::unique_ptr<Ui::d_ServerDatabase> m_form;
};

}  // namespace pw::app
