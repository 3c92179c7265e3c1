#pragma once
// "Data Filtering": one condition on one field, returned to the editor on OK.

#include <QDialog>
#include <memory>

#include "dbtools/Filtering.h"

namespace Ui {
class d_Filtering;
}
namespace pw::db {
class TDbData;
}

namespace pw::dbtools {

class d_Filtering : public QDialog {
    Q_OBJECT
public:
    // viewEmpty: the editor shows no record (the lists stay empty).
    d_Filtering(db::TDbData& store, bool viewEmpty, QWidget* parent = nullptr);
    ~d_Filtering() override;

    // The choice on OK; field -1 when no item was selected.
    [[nodiscard]] FilterChoice choice() const;

private:
    void fillValues(int field);

    db::TDbData& m_store;
    std::unique_ptr<Ui::d_Filtering> m_ui;
};

}  // namespace pw::dbtools
