#pragma once
// The page layout of a printed grid, computed in the printer's device units from the printer's
// and the screen's resolutions, so that the preview shows the pages as the printer prints them.
// Pure arithmetic over a text measurer: the widgets supply one on the printer's font metrics,
// tests supply fixed metrics.

#include <QPoint>
#include <QString>
#include <functional>
#include <vector>

#include "print/PrintGrid.h"

namespace pw::print {

// What the printer reports of itself, and the screen's resolution.
struct DeviceMetrics {
    int screenDpiX = 96;
    int screenDpiY = 96;
    int dpiX = 600;  // printer dots per inch
    int dpiY = 600;
    int pageWidth = 0;  // printable size in device units
    int pageHeight = 0;
    int offsetX = 0;  // physical offset of the printable area on the paper
    int offsetY = 0;
};

enum class Wrap { SingleLine, AtWords };

// Measures text in the print font on the printer.
class ITextMeasure {
public:
    virtual ~ITextMeasure() = default;
    // Font of this character height, in device units, for every measure that follows.
    virtual void selectFont(int pixelHeight) = 0;
    // Width of the text as one line.
    [[nodiscard]] virtual int lineWidth(const QString& text) = 0;
    // Height of the text laid out as the drawing lays it out into this width.
    [[nodiscard]] virtual int textHeight(const QString& text, int width, Wrap wrap) = 0;
    // Height of one line of the text "Wg".
    [[nodiscard]] virtual int lineHeight() = 0;
    // The font's character height and the leading it puts between lines.
    [[nodiscard]] virtual int charHeight() = 0;
    [[nodiscard]] virtual int externalLeading() = 0;
};

// a * b / c with a 64-bit intermediate, rounded to the nearest integer, halves away from zero;
// 0 when c is 0.
[[nodiscard]] int mulDiv(int a, int b, int c);

struct Box {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    [[nodiscard]] int width() const { return right - left; }
    [[nodiscard]] int height() const { return bottom - top; }
    friend bool operator==(const Box&, const Box&) = default;
};

enum class LayoutOutcome {
    Ok,
    NoPrintableArea,  // the margins leave no room for the header and one row, or no width
    Stopped,          // the caller asked to stop while rows were measured
};

struct GridLayout {
    LayoutOutcome outcome = LayoutOutcome::Ok;
    double rx = 1.0;
    double ry = 1.0;
    Box box;  // printable box; its top is below the header row
    int hp = 0;
    int vp = 0;
    int lw = 0;
    int measureFontHeight = 0;
    int drawFontHeight = 0;
    std::vector<TColumnEh> columns;
    std::vector<int> widths;      // one per print column
    std::vector<int> pageWidths;  // the widths as drawn: at most the printable width
    std::vector<int> columnBandEnds;
    int headerHeight = 0;
    int minRowHeight = 0;
    bool wrap = false;
    std::vector<int> rowHeights;  // as drawn: at most the height of an empty page
    std::vector<int> rowBandEnds;
    bool scaled = false;  // the whole page is drawn at scaleDrawn / scaleTable
    int scaleTable = 1;   // G
    int scaleDrawn = 1;   // P
    int pageCount = 0;

    [[nodiscard]] int columnBands() const { return static_cast<int>(columnBandEnds.size()); }
    [[nodiscard]] int rowBands() const { return static_cast<int>(rowBandEnds.size()); }
};

// Lays the chosen columns of the grid out on pages. stop, when given, is asked now and then
// while the rows are measured; a true answer ends the layout as Stopped.
[[nodiscard]] GridLayout layoutGrid(const DeviceMetrics& device, const PrintSettings& settings,
                                    std::vector<TColumnEh> columns, const IPrintGrid& grid,
                                    ITextMeasure& measure, const std::function<bool()>& stop = {});

// The part of the table that page n (from 1) shows. Pages run across the column bands of a row
// band first, so that the pages of one stretch of rows lie side by side.
struct PageBands {
    int firstColumn = 0;
    int lastColumn = -1;  // print column indexes, inclusive
    int firstRow = 0;
    int lastRow = -1;  // grid rows, inclusive; lastRow < firstRow for a page without rows
};
[[nodiscard]] PageBands pageBands(const GridLayout& layout, int page);

// One cell of a page: its rectangle, the padded rectangle its text goes into, and what it holds.
struct PageCell {
    Box cell;
    Box text;
    int printColumn = 0;
    int gridColumn = 0;
    int row = -1;  // -1 for a header cell
};

// Everything page n draws, in the layout's units: header cells, row cells and the ruling as
// polylines, collected while the cells are placed so that it is drawn in one go.
struct PagePlan {
    std::vector<PageCell> header;
    std::vector<PageCell> cells;
    std::vector<std::vector<QPoint>> ruling;
};
[[nodiscard]] PagePlan planPage(const GridLayout& layout, int page);

// Grid columns 0 and 1 show check boxes rather than text.
[[nodiscard]] inline bool isCheckColumn(int gridColumn) {
    return gridColumn < 2;
}

}  // namespace pw::print
