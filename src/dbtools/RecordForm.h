#pragma once
// The record form "AddR" without its window: one record field by field, in add mode (new
// records one after another) or edit mode (the editor's rows one after another from the
// cursor). Every save goes through the store's main transaction and brings the editor's
// grid up to date at once.

#include <QString>
#include <array>

#include "dbtools/EditorSession.h"

namespace pw::dbtools {

enum class RecordFormMode { Add = 1, Edit = 2 };

enum class SaveOutcome {
    Saved,
    NoDatabase,  // nothing open: nothing happens
    TooLong,     // a field is longer than the database holds (told; badField says which)
    Full,        // the record limit is reached (told)
    Failed,      // a database error (told)
};

class RecordForm {
public:
    using Values = std::array<QString, db::kFieldCount>;

    RecordForm(EditorSession& editor, RecordFormMode mode);

    [[nodiscard]] RecordFormMode mode() const { return m_mode; }
    // The captions as they were when the form opened.
    [[nodiscard]] const Values& labels() const { return m_labels; }
    [[nodiscard]] QString title() const;
    [[nodiscard]] QString nextButtonText() const;
    // Edit mode on the grid's last row: "Next Record" is off and Enter means "Done".
    [[nodiscard]] bool nextEnabled() const;
    [[nodiscard]] bool nextIsDefault() const { return nextEnabled(); }

    // What the edits show: the cursor row's fields (edit mode) or empty texts (add mode).
    [[nodiscard]] Values currentValues() const;

    // Validates and writes the record. badField is the field (0..19) given the focus on
    // TooLong.
    SaveOutcome save(const Values& values, int* badField = nullptr);
    // After a save through "Add Another" / "Next Record": edit mode moves the cursor one row
    // down unless it is on the last row.
    void next();

private:
    EditorSession& m_editor;
    RecordFormMode m_mode;
    Values m_labels;
};

}  // namespace pw::dbtools
