#include "dbtools/RecordForm.h"

#include "dbtools/StoreQuestions.h"
#include "resources/Strings.h"

namespace pw::dbtools {

RecordForm::RecordForm(EditorSession& editor, RecordFormMode mode)
    : m_editor(editor), m_mode(mode), m_labels(editor.store().FieldCaptions().Captions()) {}

QString RecordForm::title() const {
    return str(m_mode == RecordFormMode::Add ? ids::kAddDataTitle : ids::kEditDataTitle);
}

QString RecordForm::nextButtonText() const {
    return str(m_mode == RecordFormMode::Add ? ids::kAddAnother : ids::kNextRecord);
}

bool RecordForm::nextEnabled() const {
    if (m_mode == RecordFormMode::Add)
        return true;
    return m_editor.cursorRow() < m_editor.grid().rowCount() - 1;
}

RecordForm::Values RecordForm::currentValues() const {
    Values v;
    if (m_mode == RecordFormMode::Edit) {
        const int row = m_editor.cursorRow();
        for (int k = 0; k < db::kFieldCount; ++k)
            v[k] = m_editor.grid().gridText(row, k + kFirstFieldColumn);
    }
    return v;
}

SaveOutcome RecordForm::save(const Values& values, int* badField) {
    db::TDbData& store = m_editor.store();
    if (!store.CanWrite())
        return SaveOutcome::NoDatabase;
    // The limit is the database's, in bytes: a text of few characters but many bytes
    // (Japanese) is caught here with the message instead of failing in the engine.
    for (int k = 0; k < db::kFieldCount; ++k) {
        if (values[k].toUtf8().size() > store.StringFieldLength()) {
            inform(m_editor.ui(), str(ids::kDbFieldTooLong));
            if (badField)
                *badField = k;
            return SaveOutcome::TooLong;
        }
    }
    RecordGridModel& grid = m_editor.grid();
    const int row = m_editor.cursorRow();
    if (m_mode == RecordFormMode::Edit && (row < 0 || row >= grid.rowCount()))
        return SaveOutcome::Failed;
    if (m_mode == RecordFormMode::Add && m_editor.checkAddRecord() == AddCheck::Refused)
        return SaveOutcome::Full;
    try {
        int id = -1;
        if (m_mode == RecordFormMode::Add) {
            id = store.Records().AddRecord(values);
            if (!m_editor.list().AppendCachedRow(id, 0, true, values))
                m_editor.list().Refresh();  // past the cache's end: the list is read anew
            else
                m_editor.setCursor(grid.rowCount() - 1, m_editor.cursorColumn());
        } else {
            id = grid.data(grid.index(row, 0), RecordGridModel::RecordIdRole).toInt();
            store.Records().UpdateRecord(id, values);
            m_editor.list().UpdateCachedRow(row, values);
        }
        AutoAssignRecord(store, m_editor.grouping(), id, values);
    } catch (const db::StoreError& e) {
        store.ReportDroppedError("Saving a record", e);
        TellChangedElsewhere(store, m_editor.ui());
        inform(m_editor.ui(), str(ids::kRecordSaveFailed).arg(QString::fromUtf8(e.what())));
        return SaveOutcome::Failed;
    }
    return SaveOutcome::Saved;
}

void RecordForm::next() {
    if (m_mode == RecordFormMode::Edit && nextEnabled())
        m_editor.setCursor(m_editor.cursorRow() + 1, m_editor.cursorColumn());
}

}  // namespace pw::dbtools
