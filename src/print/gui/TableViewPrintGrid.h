#pragma once
// A table view as the grid printing reads it: the model's rows in view order, the texts its
// cells show, its header's captions, widths and alignment, and its font. Check-box cells print
// checked when the model shows them checked.

#include <functional>

#include "print/PrintGrid.h"

class QTableView;

namespace pw::print {

class TableViewPrintGrid : public IPrintGrid {
public:
    // fetchAll makes every row's texts available (the store's FetchAll for a lazy model);
    // without it the model's own fetchMore is used.
    explicit TableViewPrintGrid(QTableView& view, std::function<void()> fetchAll = {});

    int columnCount() const override;
    QString headerText(int column) const override;
    ColumnAlignment headerAlignment(int column) const override;
    int columnWidth(int column) const override;
    int rowCount() const override;
    QString cellText(int row, int column) const override;
    FontSpec font() const override;
    void fetchAll() override;

private:
    QTableView& m_view;
    std::function<void()> m_fetchAll;
};

}  // namespace pw::print
