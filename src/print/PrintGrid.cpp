#include "print/PrintGrid.h"

namespace pw::print {

std::vector<TColumnEh> printColumns(const IPrintGrid& grid, const std::vector<bool>& choice) {
    std::vector<TColumnEh> columns;
    const int count = grid.columnCount();
    for (int i = 0; i < count; ++i) {
        if (i < static_cast<int>(choice.size()) && !choice[static_cast<size_t>(i)]) {
            continue;
        }
        columns.push_back({grid.headerText(i).left(kCaptionLimit), grid.headerAlignment(i),
                           grid.columnWidth(i), i});
    }
    return columns;
}

int marginFromText(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

}  // namespace pw::print
