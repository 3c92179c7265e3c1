#include "print/gui/TableViewPrintGrid.h"

#include <QFontInfo>
#include <QHeaderView>
#include <QTableView>

namespace pw::print {

TableViewPrintGrid::TableViewPrintGrid(QTableView& view, std::function<void()> fetchAll)
    : m_view(view), m_fetchAll(std::move(fetchAll)) {}

int TableViewPrintGrid::columnCount() const {
    return m_view.model() ? m_view.model()->columnCount() : 0;
}

QString TableViewPrintGrid::headerText(int column) const {
    return m_view.model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

ColumnAlignment TableViewPrintGrid::headerAlignment(int column) const {
    QVariant v = m_view.model()->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole);
    const int align =
        v.isValid() ? v.toInt() : static_cast<int>(m_view.horizontalHeader()->defaultAlignment());
    if (align & Qt::AlignHCenter) {
        return ColumnAlignment::Center;
    }
    if (align & Qt::AlignRight) {
        return ColumnAlignment::Right;
    }
    return ColumnAlignment::Left;
}

int TableViewPrintGrid::columnWidth(int column) const {
    return m_view.horizontalHeader()->sectionSize(column);
}

int TableViewPrintGrid::rowCount() const {
    return m_view.model() ? m_view.model()->rowCount() : 0;
}

QString TableViewPrintGrid::cellText(int row, int column) const {
    const QAbstractItemModel* model = m_view.model();
    const QModelIndex index = model->index(row, column);
    const QVariant check = model->data(index, Qt::CheckStateRole);
    if (check.isValid()) {
        return check.toInt() == Qt::Checked ? QString::fromLatin1(kCheckedCellText) : QString();
    }
    return model->data(index, Qt::DisplayRole).toString();
}

FontSpec TableViewPrintGrid::font() const {
    const QFont f = m_view.font();
    const QFontInfo info(f);
    return {info.family(), info.pixelSize(), f.weight(), f.italic()};
}

void TableViewPrintGrid::fetchAll() {
    if (m_fetchAll) {
        m_fetchAll();
        return;
    }
    QAbstractItemModel* model = m_view.model();
    // A model that offers more but delivers nothing must not hold the printout forever.
    while (model != nullptr && model->canFetchMore(QModelIndex())) {
        const int before = model->rowCount();
        model->fetchMore(QModelIndex());
        if (model->rowCount() <= before) {
            break;
        }
    }
}

}  // namespace pw::print
