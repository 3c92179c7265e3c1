// The captions of the 20 fields (MAIL_FIELDS): read, kept, written back and changed.
#include <algorithm>

#include "db/StoreEngine.h"

namespace pw::db {

// ---- captions ---------------------------------------------------------------------------------

const std::array<QString, kFieldCount>& CStoreCaptions::Captions() const {
    return m_store.m_captions;
}

const QStringList& CStoreCaptions::CaptionsList() const {
    return m_store.m_captionsList;
}

void CStoreCaptions::SetCaption(int position, const QString& caption) {
    if (position >= 0 && position < kFieldCount)
        m_store.m_captions[position] = caption;
}

void CStoreCaptions::LoadCaptions() try {
    const IBPP::Database db = m_store.m_engine->Database();
    if (!db || !db->IsConnected())
        return;
    IBPP::Transaction tr = IBPP::TransactionFactory(
        db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency, IBPP::LockResolution::Wait);
    tr->Start();
    IBPP::Statement st = IBPP::StatementFactory(db, tr);
    st->Execute("select * from  MAIL_FIELDS order by ORDER_F");
    m_store.m_captionsList.clear();
    for (int i = 0; i < kFieldCount && st->Fetch(); ++i) {
        std::string field;
        std::string caption;
        st->Get("FIELD", field);
        const bool null = st->Get("Caption", caption);
        QString text =
            null ? QString()
                 : QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
        if (text.isEmpty())
            text = DefaultCaption(i);
        m_store.m_captions[i] = text;
        m_store.m_captionsList << QString::fromUtf8(field.data(),
                                                    static_cast<qsizetype>(field.size())) +
                                      QLatin1Char('=') + text;
    }
    st.reset();
    tr->Commit();
} catch (...) {
    RaiseStoreError();
}

void CStoreCaptions::ReloadCaptions() try {
    LoadCaptions();
    for (IStoreObserver* o : std::vector<IStoreObserver*>(m_store.m_observers))
        o->captionsReloaded();
} catch (...) {
    RaiseStoreError();
}

void CStoreCaptions::SaveCaptions() try {
    if (!m_store.CanWrite())
        return;
    IBPP::Statement st =
        IBPP::StatementFactory(m_store.m_engine->Database(), m_store.m_engine->mainTr);
    try {
        st->Prepare("update MAIL_FIELDS set ORDER_F = ?, CAPTION = ? where FIELD = ? ");
        for (int i = 0; i < m_store.m_captionsList.size() && i < kFieldCount; ++i) {
            const QString& entry = m_store.m_captionsList[i];
            st->Set(1, i + 1);
            st->Set(2, m_store.Convert(m_store.m_captions[i]).toStdString());
            st->Set(3, m_store.Convert(entry.section(QLatin1Char('='), 0, 0)).toStdString());
            st->Execute();
        }
    } catch (const IBPP::Exception& e) {
        m_store.ReportDroppedError("Saving the field captions", e);
    }
    try {
        st->Close();
    } catch (const IBPP::Exception&) {
    }
    m_store.Changed();
} catch (...) {
    RaiseStoreError();
}

void CStoreCaptions::WriteCaptions(const std::vector<CaptionChange>& changes,
                                   int lockTimeoutSeconds) try {
    const IBPP::Database db = m_store.m_engine->Database();
    if (!db)
        return;
    IBPP::Transaction tr =
        IBPP::TransactionFactory(db, IBPP::AccessMode::Write, IBPP::Isolation::Concurrency,
                                 IBPP::LockResolution::Wait, IBPP::tfNone, lockTimeoutSeconds);
    tr->Start();
    const DiagnosticSink diagnostics = m_store.Diagnostics();
    for (const CaptionChange& c : changes) {
        if (c.position < 0 || c.position >= kFieldCount)
            continue;
        const QString& column = ColumnNames()[size_t(c.position)];
        if (!UpdateCaption(db, tr,
                           QStringLiteral("UPDATE MAIL_FIELDS SET CAPTION = ? WHERE FIELD = ?"),
                           column, c.caption, diagnostics))
            ReplaceCaptionRow(db, tr, kInsertCaptionRow, column, c.caption, diagnostics);
    }
    tr->Commit();
} catch (...) {
    RaiseStoreError();
}

// ---- caption rows -----------------------------------------------------------------------------

bool UpdateCaption(const IBPP::Database& db, const IBPP::Transaction& tr,
                   const QString& statementText, const QString& columnName, const QString& caption,
                   const DiagnosticSink& diagnostics) {
    try {
        IBPP::Statement st = IBPP::StatementFactory(db, tr);
        st->Prepare(statementText.toUtf8().toStdString());
        st->Set(1, caption.toUtf8().toStdString());
        st->Set(2, columnName.toUpper().toUtf8().toStdString());
        st->Execute();
        return st->AffectedRows() == 1;
    } catch (const IBPP::Exception& e) {
        ReportDroppedError(diagnostics, "Updating a field caption", e);
        return false;
    }
}

void ReplaceCaptionRow(const IBPP::Database& db, const IBPP::Transaction& tr,
                       const QString& insertText, const QString& columnName, const QString& caption,
                       const DiagnosticSink& diagnostics) {
    IBPP::Statement st;
    bool savepoint = false;
    try {
        st = IBPP::StatementFactory(db, tr);
        // The delete and the insert stand or fall together: a caption the row cannot hold
        // must not leave the field without its row.
        st->ExecuteImmediate("SAVEPOINT PW_CAPTION_ROW");
        savepoint = true;
        st->Prepare("delete from MAIL_FIELDS where FIELD=?");
        st->Set(1, columnName.toUtf8().toStdString());
        st->Execute();
        st->Prepare(insertText.toUtf8().toStdString());
        st->Set(2, caption.toUtf8().toStdString());
        st->Set(1, columnName.toUtf8().toStdString());
        st->Execute();
        // The new row takes its field's place; with the domain default (-1) it would come
        // first when the captions are loaded in order and shift every caption by one.
        const auto& names = ColumnNames();
        const auto it = std::find(names.begin(), names.end(), columnName.toUpper());
        if (it != names.end()) {
            st->Prepare("update MAIL_FIELDS set ORDER_F = ? where FIELD = ? and ORDER_F = -1");
            st->Set(1, static_cast<int32_t>(it - names.begin()) + 1);
            st->Set(2, columnName.toUtf8().toStdString());
            st->Execute();
        }
        st->ExecuteImmediate("RELEASE SAVEPOINT PW_CAPTION_ROW");
    } catch (const IBPP::Exception& e) {
        ReportDroppedError(diagnostics, "Replacing a field caption row", e);
        if (savepoint && st) {
            try {
                st->ExecuteImmediate("ROLLBACK TO SAVEPOINT PW_CAPTION_ROW");
            } catch (const IBPP::Exception&) {
            }
        }
    }
}

}  // namespace pw::db
