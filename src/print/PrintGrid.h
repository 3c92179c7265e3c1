#pragma once
// What the grid printing reads of a record grid, and the settings it prints with. Logic only:
// the editor's table view is adapted to IPrintGrid in gui/, tests hand in grids of their own.

#include <QString>
#include <vector>

namespace pw::print {

enum class ColumnAlignment { Left = 0, Right = 1, Center = 2 };

// The face, height and style of the grid's font, as the screen shows it.
struct FontSpec {
    QString family;
    int pixelHeight = 12;  // character height in screen pixels
    int weight = 400;      // 100..900, 400 normal
    bool italic = false;
};

// The grid as the user sees it: rows in grid order (group, filter, sort applied), the texts its
// cells show, its header. Grid columns 0 and 1 are the "Sent" and "Select" check boxes, whose
// cell text is "Ok" when the box shows checked.
class IPrintGrid {
public:
    virtual ~IPrintGrid() = default;
    [[nodiscard]] virtual int columnCount() const = 0;
    [[nodiscard]] virtual QString headerText(int column) const = 0;
    [[nodiscard]] virtual ColumnAlignment headerAlignment(int column) const = 0;
    // Width on screen, in pixels.
    [[nodiscard]] virtual int columnWidth(int column) const = 0;
    [[nodiscard]] virtual int rowCount() const = 0;
    [[nodiscard]] virtual QString cellText(int row, int column) const = 0;
    [[nodiscard]] virtual FontSpec font() const = 0;
    // Makes the texts of every row available (the grid fetches rows lazily).
    virtual void fetchAll() = 0;
};

// The text a check-box cell holds when its box is checked.
inline constexpr const char* kCheckedCellText = "Ok";

// One printed column, in grid column order.
struct TColumnEh {
    QString caption;  // at most kCaptionLimit characters
    ColumnAlignment alignment = ColumnAlignment::Left;
    int width = 0;  // screen pixels
    int columnIndex = 0;
};
inline constexpr int kCaptionLimit = 260;

// The chosen columns of the grid (choice[i] for grid column i; missing entries count as chosen).
[[nodiscard]] std::vector<TColumnEh> printColumns(const IPrintGrid& grid,
                                                  const std::vector<bool>& choice);

enum class FitMethod { ScaleWholeGrid = 0, ChangeColumnWidth = 1 };

// Page settings of one editor window; a new window starts from these defaults.
struct PrintSettings {
    // Margins in whole centimetres.
    int marginLeft = 1;
    int marginTop = 1;
    int marginRight = 1;
    int marginBottom = 1;
    bool fitWidth = true;
    FitMethod fitMethod = FitMethod::ChangeColumnWidth;
    bool optimalWidth = false;
    bool stretchLongLines = true;
    bool colored = true;
    QString fontName;  // empty: the grid's own face

    friend bool operator==(const PrintSettings&, const PrintSettings&) = default;
};

// A margin edit's text: a decimal integer, anything else counts as 0 (what the user typed last
// wins, so "abc" clears the margin rather than keeping an old value unseen).
[[nodiscard]] int marginFromText(const QString& text);

}  // namespace pw::print
