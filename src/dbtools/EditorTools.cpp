#include "dbtools/EditorTools.h"

#include <QHash>
#include <QSet>

#include "dbtools/StoreQuestions.h"
#include "resources/Strings.h"

namespace pw::dbtools {

namespace {

constexpr const char* kUndoPoint = "PW_TOOL";

// Runs a store operation whose database errors end the command.
template <typename F>
bool guardedStore(const db::TDbData& store, const char* what, F&& f) {
    try {
        f();
        return true;
    } catch (const db::StoreError& e) {
        store.ReportDroppedError(what, e);
        return false;
    }
}

// A long command inside an undo point: committed to the main transaction when it ends
// normally, undone when the user cancels or the database refuses a step.
class UndoScope {
public:
    explicit UndoScope(db::TDbData& store) : m_store(store) {
        m_set = guardedStore(m_store, "Setting an undo point",
                             [&] { m_store.UndoPoints().SetUndoPoint(QLatin1String(kUndoPoint)); });
    }
    ~UndoScope() {
        if (m_set && !m_done)
            undo();
    }
    [[nodiscard]] bool ready() const { return m_set; }
    void keep() {
        m_done = true;
        guardedStore(m_store, "Releasing an undo point",
                     [&] { m_store.UndoPoints().ReleaseUndoPoint(QLatin1String(kUndoPoint)); });
    }
    void undo() {
        m_done = true;
        guardedStore(m_store, "Undoing a cancelled command",
                     [&] { m_store.UndoPoints().UndoToPoint(QLatin1String(kUndoPoint)); });
    }

private:
    db::TDbData& m_store;
    bool m_set = false;
    bool m_done = false;
};

bool isSingleByte(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x80 || (u >= 0xFF61 && u <= 0xFF9F);
}

// name@domain: one "@", something before it, a domain of dot-separated non-empty labels
// with at least one dot, no blanks.
bool hasAddressForm(const QString& text) {
    if (text.count(u'@') != 1 || text.contains(u' ') || text.contains(u'\t'))
        return false;
    const qsizetype at = text.indexOf(u'@');
    const QString local = text.left(at);
    const QString domain = text.mid(at + 1);
    if (local.isEmpty() || domain.isEmpty() || !domain.contains(u'.'))
        return false;
    for (const QString& label : domain.split(u'.')) {
        if (label.isEmpty())
            return false;
    }
    return !local.startsWith(u'.') && !local.endsWith(u'.') && !local.contains(QLatin1String(".."));
}

}  // namespace

namespace {

// Blanks and control characters around a stored value are no part of the address: the send
// drops them as well. An ideographic blank stays, since the send refuses it.
QString withoutBlanksAround(const QString& text) {
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from].unicode() <= 0x20)
        ++from;
    while (to > from && text[to - 1].unicode() <= 0x20)
        --to;
    return text.mid(from, to - from);
}

}  // namespace

AddressFault checkAddress(const QString& stored) {
    const QString text = withoutBlanksAround(stored);
    if (!text.contains(u'@'))
        return AddressFault::NoAtMark;
    if (text.contains(u','))
        return AddressFault::Comma;
    for (QChar c : text) {
        if (!isSingleByte(c))
            return AddressFault::DoubleByte;
    }
    if (!hasAddressForm(text))
        return AddressFault::Malformed;
    return AddressFault::None;
}

int addressFaultMessage(AddressFault fault) {
    switch (fault) {
        case AddressFault::NoAtMark:
            return ids::kAddressNoAtMark;
        case AddressFault::Comma:
            return ids::kAddressComma;
        case AddressFault::DoubleByte:
            return ids::kAddressDoubleByte;
        case AddressFault::Malformed:
            return ids::kAddressMalformed;
        case AddressFault::None:
            break;
    }
    return 0;
}

// ---- the duplicate list -------------------------------------------------------------------------

DuplicateListModel::DuplicateListModel(db::TDbData& store, db::CRecipientList& list, int keyField,
                                       db::DuplicateComparison comparison, QObject* parent)
    : QAbstractTableModel(parent),
      m_store(store),
      m_list(list),
      m_keyField(keyField),
      m_comparison(comparison) {}

void DuplicateListModel::search() {
    beginResetModel();
    m_rows.clear();
    m_runs.clear();
    guardedStore(m_store, "Finding duplicates", [&] {
        if (m_store.Records().FindDuplicateValues(m_keyField, m_comparison) > 0)
            m_rows = m_list.ListDuplicateRecords(m_keyField, m_comparison);
    });
    // Runs of equal keys, compared as the search compared them.
    const auto key = [this](const db::ListedRecord& r) {
        const QString& value = r.fields[size_t(m_keyField)];
        return m_comparison == db::DuplicateComparison::Exact ? value : db::MailAddressKey(value);
    };
    int run = 0;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (i > 0 && key(m_rows[i]) != key(m_rows[i - 1]))
            run = 1 - run;
        m_runs.push_back(run);
    }
    endResetModel();
}

void DuplicateListModel::clickCell(int row, int column) {
    if (column < kFirstFieldColumn || row < 0 || row >= rowCount())
        return;
    const int old = m_markedRow;
    m_markedRow = row;
    m_markedColumn = column;
    if (old >= 0 && old < rowCount())
        emit dataChanged(index(old, 0), index(old, kGridColumnCount - 1));
    emit dataChanged(index(row, 0), index(row, kGridColumnCount - 1));
}

bool DuplicateListModel::deleteMarked() {
    if (m_markedRow < 0 || m_markedRow >= rowCount())
        return false;
    const int id = m_rows[size_t(m_markedRow)].id;
    guardedStore(m_store, "Deleting a duplicate",
                 [&] { m_store.Records().DeleteRecordEverywhere(id); });
    m_markedRow = -1;
    m_markedColumn = -1;
    search();
    return true;
}

int DuplicateListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int DuplicateListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kGridColumnCount;
}

QVariant DuplicateListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kGridColumnCount)
        return {};
    const db::ListedRecord& r = m_rows[size_t(index.row())];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            if (column >= kFirstFieldColumn)
                return r.fields[size_t(column - kFirstFieldColumn)];
            return {};
        case Qt::CheckStateRole:
            if (column == kSentColumn)
                return r.sent != 0 ? Qt::Checked : Qt::Unchecked;
            if (column == kSelectColumn)
                return r.selected != 0 ? Qt::Checked : Qt::Unchecked;
            return {};
        case ShadeRole:
            if (index.row() == m_markedRow && column == m_markedColumn)
                return int(Shade::Marked);
            if (column == m_keyField + kFirstFieldColumn)
                return int(m_runs[size_t(index.row())] == 0 ? Shade::FirstRun : Shade::SecondRun);
            return int(Shade::None);
        case RecordIdRole:
            return r.id;
        case KeyRunRole:
            return m_runs[size_t(index.row())];
        case MarkedRole:
            return index.row() == m_markedRow && column == m_markedColumn;
        default:
            return {};
    }
}

QVariant DuplicateListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section == kSentColumn)
        return str(ids::kGridSent);
    if (section == kSelectColumn)
        return str(ids::kGridSelect);
    if (section >= kFirstFieldColumn && section < kGridColumnCount)
        return m_store.FieldCaptions().Captions()[size_t(section - kFirstFieldColumn)];
    return {};
}

// ---- the tools ----------------------------------------------------------------------------------

EditorTools::EditorTools(EditorSession& session) : m_session(session) {}

bool EditorTools::cursorOnField(int titleId) const {
    if (m_session.cursorColumn() >= kFirstFieldColumn)
        return true;
    (void)m_session.ui().message(str(titleId), str(ids::kSelectInputField),
                                 MessageKind::Information);
    return false;
}

ToolOutcome EditorTools::findDuplicates(
    const std::function<void(DuplicateListModel&)>& showWindow) {
    if (!cursorOnField(ids::kDeleteDuplicatesTitle))
        return ToolOutcome::Refused;
    const int field = m_session.cursorColumn() - kFirstFieldColumn;
    const std::optional<db::DuplicateComparison> comparison = chooseComparison(field);
    if (!comparison)
        return ToolOutcome::Cancelled;
    DuplicateListModel model(m_session.store(), m_session.list(), field, *comparison);
    model.search();
    if (showWindow)
        showWindow(model);
    guardedStore(m_session.store(), "Refreshing the list", [&] { m_session.list().Refresh(); });
    return ToolOutcome::Done;
}

ToolOutcome EditorTools::deleteAllDuplicates() {
    if (!cursorOnField(ids::kDeleteDuplicatesTitle))
        return ToolOutcome::Refused;
    db::TDbData& store = m_session.store();
    if (!store.IsOpen())
        return ToolOutcome::Refused;
    const int field = m_session.cursorColumn() - kFirstFieldColumn;
    const std::optional<db::DuplicateComparison> comparison = chooseComparison(field);
    if (!comparison)
        return ToolOutcome::Cancelled;
    UndoScope undo(store);
    int deleted = 0;
    if (!undo.ready() || !guardedStore(store, "Deleting duplicates", [&] {
            deleted = store.Records().DeleteAllDuplicates(field, *comparison);
        })) {
        undo.undo();
        guardedStore(store, "Refreshing the list", [&] { m_session.list().Refresh(); });
        return ToolOutcome::Failed;
    }
    // Deleted inside the undo point, so that the user decides knowing how many go.
    if (!confirmDeletion(ids::kDeleteDuplicatesTitle, ids::kConfirmDeleteDuplicates, deleted, 0)) {
        undo.undo();
        guardedStore(store, "Refreshing the list", [&] { m_session.list().Refresh(); });
        return deleted > 0 ? ToolOutcome::Cancelled : ToolOutcome::NothingFound;
    }
    undo.keep();
    guardedStore(store, "Refreshing the list", [&] { m_session.list().Refresh(); });
    (void)m_session.ui().message(str(ids::kDeleteDuplicatesTitle), str(ids::kDuplicatesDeleted),
                                 MessageKind::Information);
    return ToolOutcome::Done;
}

bool EditorTools::confirmDeletion(int titleId, int questionId, int deleted, int leftGroup) {
    IUserInteraction& ui = m_session.ui();
    if (deleted == 0 && leftGroup == 0) {
        (void)ui.message(str(titleId), str(ids::kNothingToDelete), MessageKind::Information);
        return false;
    }
    QString text = str(questionId).arg(deleted);
    if (leftGroup > 0)
        text += QLatin1Char('\n') + str(ids::kConfirmLeaveGroup).arg(leftGroup);
    text += QStringLiteral("\n\n") + str(ids::kDeletionUndoHint);
    return ui.message(str(titleId), text, MessageKind::YesNo) == Answer::Yes;
}

std::optional<db::DuplicateComparison> EditorTools::chooseComparison(int field) const {
    if (field != 0)
        return db::DuplicateComparison::Exact;
    ChoiceRequest request;
    request.caption = str(ids::kDeleteDuplicatesTitle);
    request.text = str(ids::kDuplicateComparisonAsk);
    request.buttons = {str(ids::kCompareAsAddresses), str(ids::kCompareExactly),
                       str(ids::kButtonCancel)};
    request.defaultButton = 0;
    request.escapeButton = 2;
    request.icon = ChoiceIcon::Question;
    switch (m_session.ui().choose(request)) {
        case 0:
            return db::DuplicateComparison::MailAddress;
        case 1:
            return db::DuplicateComparison::Exact;
        default:
            return std::nullopt;
    }
}

ToolOutcome EditorTools::checkAddresses() {
    const int column = m_session.cursorColumn();
    if (column < kFirstFieldColumn)
        return ToolOutcome::Refused;
    m_session.list().FetchAll();
    const db::RecordCache& cache = m_session.grid().cache();
    const int field = column - kFirstFieldColumn;
    // From the row after the cursor on, round to the cursor's own row: each run finds the
    // next one rather than the same first one again.
    const int rows = cache.rowCount();
    const int start = m_session.cursorRow() >= 0 ? m_session.cursorRow() + 1 : 0;
    for (int i = 0; i < rows; ++i) {
        const int row = (start + i) % rows;
        const AddressFault fault = checkAddress(cache.text(row, field));
        if (fault == AddressFault::None)
            continue;
        m_session.setCursor(row, column);
        (void)m_session.ui().message(str(ids::kCheckAddressesTitle),
                                     str(addressFaultMessage(fault)), MessageKind::Information);
        return ToolOutcome::Done;
    }
    (void)m_session.ui().message(str(ids::kCheckAddressesTitle), str(ids::kNoInvalidAddresses),
                                 MessageKind::Information);
    return ToolOutcome::NothingFound;
}

ToolOutcome EditorTools::deleteInvalidAddresses() {
    if (!cursorOnField(ids::kDeleteInvalidTitle))
        return ToolOutcome::Refused;
    db::TDbData& store = m_session.store();
    if (!store.IsOpen())
        return ToolOutcome::Refused;
    const int column = m_session.cursorColumn();
    const int field = column - kFirstFieldColumn;
    const int group = m_session.groups().groupId(m_session.selectedGroupItem());
    m_session.list().FetchAll();
    const db::RecordCache& cache = m_session.grid().cache();
    // The failing records of the view, in grid order; each deletion takes its row out of the
    // grid, so the IDs are collected first.
    std::vector<int> failing;
    for (int row = 0; row < cache.rowCount(); ++row) {
        if (checkAddress(cache.text(row, field)) != AddressFault::None && cache.rowId(row) >= 0)
            failing.push_back(cache.rowId(row));
    }
    const std::unique_ptr<IProgress> progress = m_session.ui().createProgress();
    progress->setCaption(str(ids::kDeleteInvalidTitle));
    progress->setText(str(ids::kDeletingInvalid));
    progress->setRange(0, int(failing.size()) + 1);
    progress->setPosition(0);
    progress->setCancellable();
    progress->show();

    const int before = store.Records().CountRecordsOrNone();
    int afterView = before;
    UndoScope undo(store);
    bool ok = undo.ready();
    bool cancelled = false;
    const int step = std::max(1, int(failing.size()) / 100);
    for (size_t i = 0; ok && i < failing.size(); ++i) {
        ok = guardedStore(store, "Deleting an invalid address",
                          [&] { store.Records().DeleteRecord(group, failing[i]); });
        if (int(i) % step == 0) {
            progress->setPosition(int(i) + 1);
            if (progress->cancelRequested()) {
                cancelled = true;
                break;
            }
        }
    }
    if (ok && !cancelled) {
        afterView = store.Records().CountRecordsOrNone();
        ok = guardedStore(store, "Deleting records without an address",
                          [&] { (void)store.Records().DeleteRecordsWithoutAddress(field); });
        progress->setPosition(int(failing.size()) + 1);
        cancelled = progress->cancelRequested();
    }
    progress->hide();
    if (!ok || cancelled) {
        undo.undo();
        guardedStore(store, "Refreshing the list", [&] { m_session.list().Refresh(); });
        if (cancelled)
            (void)m_session.ui().message(str(ids::kDeleteInvalidTitle), str(ids::kToolCancelled),
                                         MessageKind::Information);
        return cancelled ? ToolOutcome::Cancelled : ToolOutcome::Failed;
    }
    // Done inside the undo point: what goes is known before the user says yes.
    const int deleted = before - store.Records().CountRecordsOrNone();
    const int leftGroup = int(failing.size()) - (before - afterView);
    if (!confirmDeletion(ids::kDeleteInvalidTitle, ids::kConfirmDeleteInvalid, deleted,
                         leftGroup)) {
        undo.undo();
        guardedStore(store, "Refreshing the list", [&] { m_session.list().Refresh(); });
        return deleted + leftGroup > 0 ? ToolOutcome::Cancelled : ToolOutcome::NothingFound;
    }
    undo.keep();
    store.SetModified();
    guardedStore(store, "Refreshing the list", [&] { m_session.list().Refresh(); });
    m_session.setCursor(0, column);
    (void)m_session.ui().message(str(ids::kDeleteInvalidTitle), str(ids::kInvalidDeleted),
                                 MessageKind::Information);
    return ToolOutcome::Done;
}

// ---- groups -----------------------------------------------------------------------------------

ToolOutcome EditorTools::addGroup(const std::optional<QString>& name) {
    if (!name)
        return ToolOutcome::Cancelled;
    IUserInteraction& ui = m_session.ui();
    if (name->isEmpty()) {
        (void)ui.message(str(ids::kAddGroupTitle), str(ids::kNoGroupName),
                         MessageKind::Information);
        return ToolOutcome::Refused;
    }
    db::TDbData& store = m_session.store();
    int id = -1;
    bool exists = false;
    if (!guardedStore(store, "Adding a group", [&] {
            exists = store.Groups().FindGroupByName(*name) >= 0;
            if (!exists)
                id = store.Groups().AddGroup(*name);
        }))
        return ToolOutcome::Failed;
    if (exists) {
        (void)inform(ui, str(ids::kGroupExists));
        return ToolOutcome::Refused;
    }
    if (id < 0)
        return ToolOutcome::Failed;
    m_session.groups().reload();
    m_session.selectGroup(m_session.groups().itemOfGroup(id));
    return ToolOutcome::Done;
}

ToolOutcome EditorTools::deleteSelectedGroup() {
    const int item = m_session.selectedGroupItem();
    if (item < 0)
        return ToolOutcome::Refused;
    IUserInteraction& ui = m_session.ui();
    if (item == 0) {
        (void)inform(ui, str(ids::kRootGroupLocked));
        return ToolOutcome::Refused;
    }
    if (ask(ui, str(ids::kDeleteGroupAsk), MessageKind::YesNo) != Answer::Yes)
        return ToolOutcome::Cancelled;
    const int id = m_session.groups().groupId(item);
    if (!guardedStore(m_session.store(), "Deleting a group",
                      [&] { m_session.store().Groups().DeleteGroup(id); }))
        return ToolOutcome::Failed;
    m_session.groups().reload();
    m_session.selectGroup(item - 1);
    return ToolOutcome::Done;
}

int EditorTools::applyAutoGroup(const AutoGroupChoice& choice) {
    AutoGroupSetting setting;
    int added = 0;
    if (choice.on && choice.field >= 0 && choice.field < db::kFieldCount) {
        setting = {true, choice.field};
        m_session.setGrouping(setting);
        if (saveGrouping)
            saveGrouping(setting);
        if (ask(m_session.ui(), str(ids::kAutoGroupAsk), MessageKind::YesNo) == Answer::Yes)
            added = autoGroupAll(choice.field);
    } else {
        m_session.setGrouping(setting);
        if (saveGrouping)
            saveGrouping(setting);
    }
    m_session.selectGroup(m_session.selectedGroupItem());
    return added;
}

int EditorTools::autoGroupAll(int field) {
    db::TDbData& store = m_session.store();
    if (field < 0 || field >= db::kFieldCount || !store.IsOpen())
        return -1;
    const std::unique_ptr<IProgress> progress = m_session.ui().createProgress();
    progress->setCaption(str(ids::kAutoGroupTitle));
    progress->setText(str(ids::kAutoGroupProgress));
    int total = 0;
    guardedStore(store, "Counting the records",
                 [&] { total = store.Records().CountRecordsOrNone(); });
    progress->setRange(0, std::max(total, 0));
    progress->setPosition(0);
    progress->setCancellable();
    progress->show();

    UndoScope undo(store);
    int added = 0;
    bool cancelled = false;
    const bool ok = undo.ready() && guardedStore(store, "Grouping records", [&] {
                        // Names compared exactly, as FindGroupByName does; read once instead of per
                        // record.
                        QHash<QString, int> groups;
                        for (const db::GroupInfo& g : store.Groups().ListGroups()) {
                            if (!groups.contains(g.name))
                                groups.insert(g.name, g.id);
                        }
                        // The pairs that exist already stay as they are (no second membership).
                        QSet<qint64> members;
                        for (const auto& [g, m] : store.Groups().ListGroupMemberships())
                            members.insert((qint64(g) << 32) | quint32(m));
                        std::vector<std::pair<int, int>> pairs;
                        int row = 0;
                        store.Records().ForEachRecord(
                            db::RecordView::MainTransaction, db::RecordOrder::Stored, field,
                            [&](const db::StoredRecord& record) {
                                const std::optional<QByteArray>& value =
                                    record.fields[size_t(field)];
                                const QString name = value ? QString::fromUtf8(*value) : QString();
                                const auto it = groups.constFind(name);
                                if (it != groups.constEnd() &&
                                    !members.contains((qint64(*it) << 32) | quint32(record.id)))
                                    pairs.emplace_back(*it, record.id);
                                ++row;
                                if (row % 200 == 0) {
                                    progress->setPosition(row);
                                    if (progress->cancelRequested()) {
                                        cancelled = true;
                                        return false;
                                    }
                                }
                                return true;
                            });
                        if (cancelled)
                            return;
                        for (size_t i = 0; i < pairs.size(); ++i) {
                            store.Groups().AddToGroup(pairs[i].first, pairs[i].second);
                            ++added;
                            if (i % 200 == 0 && progress->cancelRequested()) {
                                cancelled = true;
                                return;
                            }
                        }
                        progress->setPosition(row);
                    });
    progress->hide();
    if (!ok || cancelled) {
        undo.undo();
        if (cancelled)
            (void)m_session.ui().message(str(ids::kAutoGroupTitle), str(ids::kToolCancelled),
                                         MessageKind::Information);
        return -1;
    }
    undo.keep();
    return added;
}

// ---- find and replace ---------------------------------------------------------------------------

FindReplace::FindReplace(EditorSession& session) : m_session(session) {}

bool FindReplace::searchFrom(int row, int column) {
    RecordGridModel& grid = m_session.grid();
    m_session.list().FetchAll();
    const db::RecordCache& cache = grid.cache();
    for (int r = row; r < cache.rowCount(); ++r) {
        for (int c = (r == row ? column : kFirstFieldColumn); c < kGridColumnCount; ++c) {
            if (c < kFirstFieldColumn)
                continue;
            if (cache.text(r, c - kFirstFieldColumn).contains(m_find)) {
                m_matchRow = r;
                m_matchColumn = c;
                m_session.setCursor(r, c);
                m_replaceEnabled = true;
                return true;
            }
        }
    }
    return false;
}

bool FindReplace::findNext() {
    if (m_find.isEmpty())
        return false;
    int row = m_session.cursorRow();
    int column = m_session.cursorColumn();
    if (row < 0) {
        row = 0;
        column = kFirstFieldColumn;
    } else {
        ++column;
        if (column >= kGridColumnCount) {
            ++row;
            column = kFirstFieldColumn;
        }
    }
    if (searchFrom(row, std::max(column, int(kFirstFieldColumn))))
        return true;
    while (m_session.ui().message(str(ids::kFindReplaceTitle), str(ids::kTextNotFound),
                                  MessageKind::YesNo) == Answer::Yes) {
        if (searchFrom(0, kFirstFieldColumn))
            return true;
    }
    m_replaceEnabled = false;
    m_matchRow = -1;
    m_matchColumn = -1;
    return false;
}

bool FindReplace::replace() {
    const int row = m_session.cursorRow();
    const int column = m_session.cursorColumn();
    RecordGridModel& grid = m_session.grid();
    if (m_find.isEmpty() || column < kFirstFieldColumn || row < 0 || row >= grid.rowCount())
        return false;
    QString text = grid.gridText(row, column);
    if (!text.contains(m_find))
        return false;
    text.replace(m_find, m_replace);
    db::CellWrite written = db::CellWrite::NotWritten;
    // A value longer than the field is refused before anything is written.
    guardedStore(m_session.store(), "Replacing", [&] {
        written = m_session.list().SetCell(row, column - kFirstFieldColumn, text);
    });
    if (written == db::CellWrite::TooLong)
        inform(m_session.ui(), str(ids::kDbFieldTooLong));
    else if (written == db::CellWrite::ChangedElsewhere)
        TellChangedElsewhere(m_session.store(), m_session.ui());
    return written == db::CellWrite::Written;
}

int FindReplace::replaceAll() {
    if (m_find.isEmpty())
        return 0;
    db::TDbData& store = m_session.store();
    IUserInteraction& ui = m_session.ui();
    for (;;) {
        m_session.list().FetchAll();
        const db::RecordCache& cache = m_session.grid().cache();
        const int limit = store.StringFieldLength();
        // Every new value is checked before anything is written.
        std::array<int, db::kFieldCount> matches{};
        int total = 0;
        for (int field = 0; field < db::kFieldCount; ++field) {
            for (int r = 0; r < cache.rowCount(); ++r) {
                QString text = cache.text(r, field);
                if (!text.contains(m_find))
                    continue;
                text.replace(m_find, m_replace);
                if (text.toUtf8().size() > limit) {
                    m_session.setCursor(r, field + kFirstFieldColumn);
                    (void)ui.message(str(ids::kFindReplaceTitle),
                                     str(ids::kReplaceTooLong)
                                         .arg(store.FieldCaptions().Captions()[size_t(field)])
                                         .arg(cache.rowId(r)),
                                     MessageKind::Information);
                    return 0;
                }
                ++matches[size_t(field)];
                ++total;
            }
        }
        if (total > 0) {
            const std::unique_ptr<IProgress> progress = ui.createProgress();
            progress->setCaption(str(ids::kFindReplaceTitle));
            progress->setText(str(ids::kReplacing));
            progress->setRange(0, db::kFieldCount);
            progress->setCancellable();
            progress->show();
            UndoScope undo(store);
            bool ok = undo.ready();
            bool cancelled = false;
            for (int field = 0; ok && field < db::kFieldCount; ++field) {
                if (matches[size_t(field)] == 0)
                    continue;
                ok = guardedStore(store, "Replacing", [&] {
                    m_session.list().ReplaceInField(field, m_find, m_replace);
                });
                progress->setPosition(field + 1);
                if (progress->cancelRequested()) {
                    cancelled = true;
                    break;
                }
            }
            progress->hide();
            if (!ok || cancelled) {
                undo.undo();
                guardedStore(store, "Refreshing the list", [&] { m_session.list().Refresh(); });
                if (cancelled)
                    (void)ui.message(str(ids::kFindReplaceTitle), str(ids::kToolCancelled),
                                     MessageKind::Information);
                return 0;
            }
            undo.keep();
            (void)ui.message(str(ids::kFindReplaceTitle), str(ids::kAllReplaced),
                             MessageKind::Information);
            return total;
        }
        if (ui.message(str(ids::kFindReplaceTitle), str(ids::kTextNotFound), MessageKind::YesNo) !=
            Answer::Yes)
            return 0;
    }
}

}  // namespace pw::dbtools
