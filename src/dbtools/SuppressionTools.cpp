#include "dbtools/SuppressionTools.h"

#include <QSaveFile>

#include "resources/Strings.h"

namespace pw::dbtools {

namespace {

QString csvField(const QString& text) {
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n'))
        return text;
    return QLatin1Char('"') + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString filled(int id, const QStringList& args) {
    QString t = str(id);
    for (int i = 0; i < args.size(); ++i)
        t.replace(QStringLiteral("%%1").arg(i + 1), args[i]);
    return t;
}

}  // namespace

AddOutcome AddAddressesToSuppressionList(db::CSuppressionList& list, IUserInteraction& ui,
                                         const QStringList& addresses, const QString& reason) {
    const db::SuppressionChange change = list.Add(addresses, reason);
    if (change.failed) {
        inform(ui, filled(ids::kSuppressionNotWritten, {list.LastError()}));
        return AddOutcome::Failed;
    }
    QString text = filled(ids::kSuppressionAdded,
                          {QString::number(change.added), QString::number(change.already)});
    if (!change.invalid.isEmpty()) {
        // a long list of bad lines would make a box taller than the screen
        QStringList shown = change.invalid.mid(0, 20);
        if (change.invalid.size() > shown.size())
            shown.append(QStringLiteral("..."));
        text += QLatin1Char('\n') + filled(ids::kSuppressionInvalid, {shown.join(u'\n')});
    }
    inform(ui, text);
    return change.added + change.already > 0 ? AddOutcome::Added : AddOutcome::NothingToAdd;
}

AddOutcome AddRowsToSuppressionList(EditorSession& session, const QList<int>& rows) {
    RecordGridModel& grid = session.grid();
    QList<int> targets = rows;
    if (targets.isEmpty() && session.cursorRow() >= 0)
        targets << session.cursorRow();
    QStringList addresses;
    for (int r : targets) {
        if (r < 0 || r >= grid.rowCount())
            continue;
        const QString a = grid.data(grid.index(r, kFirstFieldColumn), Qt::DisplayRole).toString();
        if (!a.trimmed().isEmpty())
            addresses.append(a);
    }
    if (addresses.isEmpty()) {
        inform(session.ui(), str(ids::kSuppressionNothing));
        return AddOutcome::NothingToAdd;
    }
    TextRequest request;
    request.caption = str(ids::kSuppressionCaption);
    request.label = str(ids::kSuppressionReasonLabel);
    request.text = str(ids::kSuppressionReasonDefault);
    const std::optional<QString> reason = session.ui().askText(request);
    if (!reason)
        return AddOutcome::Cancelled;
    db::CSuppressionList list(session.store());
    return AddAddressesToSuppressionList(list, session.ui(), addresses, *reason);
}

SuppressionListModel::SuppressionListModel(db::CSuppressionList& list, IUserInteraction& ui,
                                           QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_ui(ui) {}

void SuppressionListModel::reload() {
    beginResetModel();
    if (m_list.Read(m_all) == db::ListRead::Failed)
        inform(m_ui, filled(ids::kSuppressionNotRead, {m_list.LastError()}));
    applySearch();
    endResetModel();
}

void SuppressionListModel::setSearch(const QString& text) {
    beginResetModel();
    m_search = text.trimmed();
    applySearch();
    endResetModel();
}

void SuppressionListModel::applySearch() {
    m_shown.clear();
    for (size_t i = 0; i < m_all.size(); ++i) {
        const db::SuppressedEntry& e = m_all[i];
        if (m_search.isEmpty() || e.address.contains(m_search, Qt::CaseInsensitive) ||
            e.reason.contains(m_search, Qt::CaseInsensitive))
            m_shown.push_back(int(i));
    }
}

QString SuppressionListModel::addressAt(int row) const {
    if (row < 0 || row >= int(m_shown.size()))
        return {};
    return m_all[size_t(m_shown[size_t(row)])].address;
}

bool SuppressionListModel::removeRows(const QList<int>& rows) {
    QStringList addresses;
    for (int r : rows) {
        const QString a = addressAt(r);
        if (!a.isEmpty() && !addresses.contains(a))
            addresses.append(a);
    }
    if (addresses.isEmpty())
        return false;
    if (m_ui.message(str(ids::kSuppressionCaption),
                     filled(ids::kSuppressionRemoveAsk, {QString::number(addresses.size())}),
                     MessageKind::YesNo) != Answer::Yes)
        return false;
    if (!m_list.Remove(addresses)) {
        inform(m_ui, filled(ids::kSuppressionNotWritten, {m_list.LastError()}));
        return false;
    }
    reload();
    return true;
}

bool SuppressionListModel::exportTo(const QString& path) const {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        QByteArray out;
        for (int i : m_shown) {
            const db::SuppressedEntry& e = m_all[size_t(i)];
            out += (csvField(e.address) + u',' + csvField(e.reason) + u',' + csvField(e.added))
                       .toUtf8() +
                   "\r\n";
        }
        if (file.write(out) == out.size() && file.commit())
            return true;
    }
    inform(m_ui, filled(ids::kSuppressionNotExported, {path}));
    return false;
}

int SuppressionListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_shown.size());
}

int SuppressionListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SuppressionListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_shown.size()) || role != Qt::DisplayRole)
        return {};
    const db::SuppressedEntry& e = m_all[size_t(m_shown[size_t(index.row())])];
    switch (index.column()) {
        case AddressColumn:
            return e.address;
        case ReasonColumn:
            return e.reason;
        case AddedColumn:
            return e.added;
        default:
            return {};
    }
}

QVariant SuppressionListModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
        case AddressColumn:
            return str(ids::kSuppressionColumnAddress);
        case ReasonColumn:
            return str(ids::kSuppressionColumnReason);
        case AddedColumn:
            return str(ids::kSuppressionColumnAdded);
        default:
            return {};
    }
}

}  // namespace pw::dbtools
