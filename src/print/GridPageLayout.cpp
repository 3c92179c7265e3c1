#include "print/GridPageLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace pw::print {

int mulDiv(int a, int b, int c) {
    if (c == 0) {
        return 0;
    }
    const std::int64_t n = static_cast<std::int64_t>(a) * b;
    std::int64_t q = n / c;
    const std::int64_t r = n % c;
    if (2 * std::llabs(r) >= std::llabs(static_cast<std::int64_t>(c))) {
        q += ((n < 0) != (c < 0)) ? -1 : 1;
    }
    return static_cast<int>(q);
}

namespace {

int roundHalfUp(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

// A margin in whole centimetres as device units on one axis.
int marginUnits(int dpi, int centimetres) {
    return roundHalfUp(dpi * centimetres / 2.54);
}

int scaleEdge(int edge, int g, int p) {
    return static_cast<int>(static_cast<std::int64_t>(edge) * g / p);
}

// The per-axis ratio of printer units to screen pixels. A printer coarser than the screen gets
// a ratio below 1, so a column keeps its size on paper whichever device is finer.
double axisRatio(int printerDpi, int screenDpi) {
    if (printerDpi <= 0 || screenDpi <= 0) {
        return 1.0;
    }
    return static_cast<double>(printerDpi) / screenDpi;
}

}  // namespace

GridLayout layoutGrid(const DeviceMetrics& device, const PrintSettings& settings,
                      std::vector<TColumnEh> columns, const IPrintGrid& grid, ITextMeasure& measure,
                      const std::function<bool()>& stop) {
    GridLayout l;
    l.columns = std::move(columns);
    const int n = static_cast<int>(l.columns.size());

    l.rx = axisRatio(device.dpiX, device.screenDpiX);
    l.ry = axisRatio(device.dpiY, device.screenDpiY);

    l.box.left = marginUnits(device.dpiX, settings.marginLeft) - device.offsetX;
    l.box.top = marginUnits(device.dpiY, settings.marginTop) - device.offsetY;
    l.box.right =
        device.pageWidth + device.offsetX - marginUnits(device.dpiX, settings.marginRight);
    l.box.bottom =
        device.pageHeight + device.offsetY - marginUnits(device.dpiY, settings.marginBottom);

    // Nothing outside what the printer can reach: a margin smaller than the printer's own edge
    // would put the outer ruling and the first characters where they are never printed.
    l.box.left = std::max(l.box.left, 0);
    l.box.top = std::max(l.box.top, 0);
    l.box.right = std::min(l.box.right, device.pageWidth);
    l.box.bottom = std::min(l.box.bottom, device.pageHeight);

    l.hp = roundHalfUp(2 * l.rx);
    l.vp = roundHalfUp(l.ry);
    l.lw = (device.dpiX + device.dpiY) / 200;

    l.measureFontHeight = std::max(1, static_cast<int>(grid.font().pixelHeight * l.ry));
    l.drawFontHeight = l.measureFontHeight;
    measure.selectFont(l.measureFontHeight);

    const int lineH = measure.lineHeight();
    l.headerHeight = l.minRowHeight = lineH + 2 * l.vp;
    l.wrap = settings.stretchLongLines || lineH > measure.charHeight() + measure.externalLeading();

    // Room for a cell's padding across, and for the header with one row below it: anything less
    // and the arithmetic below divides by nothing or lays every row on a page of its own.
    if (l.box.width() - l.lw <= 2 * l.hp ||
        l.box.height() - l.lw < l.headerHeight + l.minRowHeight) {
        l.outcome = LayoutOutcome::NoPrintableArea;
        return l;
    }

    const int rows = grid.rowCount();
    auto stopped = [&](int row) { return stop && (row & 255) == 0 && stop(); };

    l.widths.resize(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j) {
        l.widths[j] = roundHalfUp((l.columns[j].width + 1) * l.rx);
    }
    if (settings.optimalWidth) {
        for (int j = 0; j < n; ++j) {
            l.widths[j] = std::max(10, measure.lineWidth(l.columns[j].caption) + 2 * l.hp);
        }
        for (int r = 0; r < rows; ++r) {
            if (stopped(r)) {
                l.outcome = LayoutOutcome::Stopped;
                return l;
            }
            for (int j = 0; j < n; ++j) {
                if (isCheckColumn(l.columns[j].columnIndex)) {
                    continue;
                }
                const QString text = grid.cellText(r, l.columns[j].columnIndex);
                if (!text.isEmpty()) {
                    l.widths[j] = std::max(l.widths[j], measure.lineWidth(text) + 2 * l.hp);
                }
            }
        }
    }

    long long total = 0;
    for (int w : l.widths) {
        total += w;
    }
    const int available = l.box.width() - l.lw;
    if (settings.fitWidth && settings.fitMethod == FitMethod::ChangeColumnWidth && n > 0 &&
        total > available) {
        const int t = static_cast<int>(std::min<long long>(total, INT32_MAX));
        long long sum = 0;
        for (int& w : l.widths) {
            w = mulDiv(w, available, t);
            sum += w;
        }
        if (sum > available) {
            l.widths.back() -= static_cast<int>(sum - available);
        }
        l.drawFontHeight = std::max(1, mulDiv(l.measureFontHeight, available, t));
        // Rows are measured in the font they are drawn in: measured at the full height, the
        // narrowed columns would wrap texts that fit and every row would stand twice as tall.
        measure.selectFont(l.drawFontHeight);
        const int drawnLine = measure.lineHeight();
        l.headerHeight = l.minRowHeight = drawnLine + 2 * l.vp;
        l.wrap = settings.stretchLongLines ||
                 drawnLine > measure.charHeight() + measure.externalLeading();
        total = 0;
        for (int w : l.widths) {
            total += w;
        }
    }

    const long long g = l.lw + total;
    const int p = l.box.width();
    if (settings.fitWidth && g > p) {
        l.scaled = true;
        l.scaleTable = static_cast<int>(std::min<long long>(g, INT32_MAX));
        l.scaleDrawn = p;
        l.box.left = scaleEdge(l.box.left, l.scaleTable, p);
        l.box.top = scaleEdge(l.box.top, l.scaleTable, p);
        l.box.right = scaleEdge(l.box.right, l.scaleTable, p);
        l.box.bottom = scaleEdge(l.box.bottom, l.scaleTable, p);
    }

    l.pageWidths.resize(static_cast<size_t>(n));
    int x = l.box.left + l.lw;
    for (int j = 0; j < n; ++j) {
        const int e = std::min(l.widths[j], l.box.width());
        l.pageWidths[j] = e;
        x += e;
        if (x > l.box.right && j > 0) {
            l.columnBandEnds.push_back(j - 1);
            x = l.box.left + l.lw + e;
        }
    }
    l.columnBandEnds.push_back(n - 1);

    l.box.top += l.headerHeight;

    const int leading = measure.externalLeading();
    l.rowHeights.assign(static_cast<size_t>(rows), l.minRowHeight);
    for (int r = 0; r < rows; ++r) {
        if (stopped(r)) {
            l.outcome = LayoutOutcome::Stopped;
            return l;
        }
        int h = l.minRowHeight;
        for (int j = 0; j < n; ++j) {
            if (isCheckColumn(l.columns[j].columnIndex)) {
                continue;
            }
            const QString text = grid.cellText(r, l.columns[j].columnIndex);
            if (text.isEmpty()) {
                continue;
            }
            const int textWidth = l.pageWidths[j] - 2 * l.hp;
            const int measured =
                measure.textHeight(text, textWidth, l.wrap ? Wrap::AtWords : Wrap::SingleLine);
            h = std::max(h, measured + leading + 2 * l.vp);
        }
        l.rowHeights[r] = h;
    }

    const int emptyPage = l.box.bottom - (l.box.top + l.lw);
    int y = l.box.top + l.lw;
    for (int r = 0; r < rows; ++r) {
        int& h = l.rowHeights[r];
        h = std::min(h, emptyPage);
        if (y + h > l.box.bottom && r > 0) {
            l.rowBandEnds.push_back(r - 1);
            y = l.box.top + l.lw;
        }
        y += h;
    }
    l.rowBandEnds.push_back(rows - 1);

    l.pageCount = l.columnBands() * l.rowBands();
    return l;
}

PageBands pageBands(const GridLayout& layout, int page) {
    PageBands b;
    if (page < 1 || page > layout.pageCount || layout.columnBands() == 0) {
        return b;
    }
    const int index = page - 1;
    const int cb = index % layout.columnBands();
    const int rb = index / layout.columnBands();
    b.firstColumn = cb == 0 ? 0 : layout.columnBandEnds[cb - 1] + 1;
    b.lastColumn = layout.columnBandEnds[cb];
    b.firstRow = rb == 0 ? 0 : layout.rowBandEnds[rb - 1] + 1;
    b.lastRow = layout.rowBandEnds[rb];
    return b;
}

PagePlan planPage(const GridLayout& l, int page) {
    PagePlan plan;
    const PageBands b = pageBands(l, page);
    if (page < 1 || page > l.pageCount) {
        return plan;
    }
    auto padded = [&](const Box& c) {
        return Box{c.left + l.hp, c.top + l.vp, c.right - l.hp, c.bottom - l.vp};
    };

    const int y0 = l.box.top - l.headerHeight;
    const int y1 = l.box.top;
    int x = l.box.left;
    for (int c = b.firstColumn; c <= b.lastColumn; ++c) {
        const int e = l.pageWidths[c];
        const Box cell{x, y0, x + e, y1};
        plan.header.push_back({cell, padded(cell), c, l.columns[c].columnIndex, -1});
        plan.ruling.push_back({{x, y1}, {x + e, y1}, {x + e, y0}});
        x += e;
    }
    plan.ruling.push_back({{l.box.left, y0}, {l.box.left, y1}});
    plan.ruling.push_back({{l.box.left, y0}, {x, y0}});

    int y = l.box.top;
    for (int r = b.firstRow; r <= b.lastRow; ++r) {
        const int h = l.rowHeights[r];
        x = l.box.left;
        for (int c = b.firstColumn; c <= b.lastColumn; ++c) {
            const int e = l.pageWidths[c];
            const Box cell{x, y, x + e, y + h};
            plan.cells.push_back({cell, padded(cell), c, l.columns[c].columnIndex, r});
            if (c == b.firstColumn) {
                plan.ruling.push_back({{x, y}, {x, y + h}, {x + e, y + h}, {x + e, y}});
            } else {
                plan.ruling.push_back({{x, y + h}, {x + e, y + h}, {x + e, y}});
            }
            x += e;
        }
        y += h;
    }
    return plan;
}

}  // namespace pw::print
