#pragma once
// The record form: 20 captions with their edits, "Done", "Cancel" and the mode's button
// ("Add Another" or "Next Record"). A thin view over RecordForm.

#include <QDialog>
#include <array>

#include "dbtools/RecordForm.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pw::dbtools {

class AddR : public QDialog {
    Q_OBJECT
public:
    AddR(EditorSession& editor, RecordFormMode mode, QWidget* parent = nullptr);

    [[nodiscard]] RecordForm& form() { return m_form; }
    [[nodiscard]] QLineEdit* edit(int field) const { return m_edits[field]; }
    [[nodiscard]] RecordForm::Values values() const;

    // The buttons' work, for the keys and for tests.
    bool done();
    bool nextOne();

private:
    bool saveShown();
    void fill();

    RecordForm m_form;
    std::array<QLabel*, db::kFieldCount> m_labels{};
    std::array<QLineEdit*, db::kFieldCount> m_edits{};
    QPushButton* m_done = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_cancel = nullptr;
};

}  // namespace pw::dbtools
