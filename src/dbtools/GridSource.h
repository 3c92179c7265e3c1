#pragma once
// What a printed copy of a record grid needs from the grid: the columns with their headers
// and widths, the rows in the order the grid shows them and every cell as the grid shows it.
// The database editor's grid model provides it; grid printing reads it.

#include <QString>

namespace pw::dbtools {

class IGridSource {
public:
    virtual ~IGridSource() = default;
    // Rows in the grid's order (the view's group, filter and sort applied).
    [[nodiscard]] virtual int gridRowCount() const = 0;
    [[nodiscard]] virtual int gridColumnCount() const = 0;
    // Header text of a column: "Sent", "Select", then the 20 field captions.
    [[nodiscard]] virtual QString gridHeader(int column) const = 0;
    // Width of a column in the grid's units (50 for the flag columns, 80 for the fields).
    [[nodiscard]] virtual int gridColumnWidth(int column) const = 0;
    // Whether the column shows a check box instead of text (columns 0 and 1).
    [[nodiscard]] virtual bool gridIsCheckColumn(int column) const = 0;
    // Text of a cell; fetches the row from the database when it was not read yet. Check
    // columns give an empty text.
    [[nodiscard]] virtual QString gridText(int row, int column) const = 0;
    // State of a check column's box; false for other columns.
    [[nodiscard]] virtual bool gridChecked(int row, int column) const = 0;
};

}  // namespace pw::dbtools
