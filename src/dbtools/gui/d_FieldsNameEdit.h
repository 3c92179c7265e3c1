#pragma once
// "Edit Field Names": a label and an edit per field; OK saves the changed captions in a
// transaction of their own (SaveFieldNames) and every grid and the field window follow.

#include <QDialog>
#include <array>
#include <functional>

#include "dbtools/FieldNames.h"

class QLabel;
class QLineEdit;

namespace pw::dbtools {

class d_FieldsNameEdit : public QDialog {
    Q_OBJECT
public:
    // documentModified: the main window's document is marked modified (a caption changed).
    d_FieldsNameEdit(db::TDbData& store, IUserInteraction& ui,
                     std::function<void()> documentModified, QWidget* parent = nullptr);

    [[nodiscard]] QLineEdit* edit(int field) const { return m_edits[field]; }
    [[nodiscard]] FieldNamesResult lastResult() const { return m_result; }

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    db::TDbData& m_store;
    IUserInteraction& m_ui;
    std::function<void()> m_documentModified;
    std::array<QLabel*, db::kFieldCount> m_labels{};
    std::array<QLineEdit*, db::kFieldCount> m_edits{};
    FieldNamesResult m_result = FieldNamesResult::NoDatabase;
};

}  // namespace pw::dbtools
