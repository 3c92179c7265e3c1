#pragma once
// A grid and a text measurer with fixed, easily counted metrics for the layout tests.

#include <QStringList>
#include <vector>

#include "print/GridPageLayout.h"

namespace pw::print::test {

struct FakeGrid : IPrintGrid {
    QStringList headers;
    std::vector<int> widths;
    std::vector<QStringList> rows;  // rows[r][c]
    int fetchAllCalls = 0;
    FontSpec fontSpec{QStringLiteral("DejaVu Sans"), 12, 400, false};

    // n columns of this width; grid column 0 and 1 are the check boxes.
    static FakeGrid withColumns(int n, int width) {
        FakeGrid g;
        for (int i = 0; i < n; ++i) {
            g.headers << QStringLiteral("C%1").arg(i);
            g.widths.push_back(width);
        }
        return g;
    }
    void addRows(int count, const QString& text = QStringLiteral("x")) {
        for (int r = 0; r < count; ++r) {
            QStringList row;
            for (int c = 0; c < headers.size(); ++c) {
                row << text;
            }
            rows.push_back(row);
        }
    }
    int columnCount() const override { return static_cast<int>(headers.size()); }
    QString headerText(int c) const override { return headers[c]; }
    ColumnAlignment headerAlignment(int) const override { return ColumnAlignment::Left; }
    int columnWidth(int c) const override { return widths[static_cast<size_t>(c)]; }
    int rowCount() const override { return static_cast<int>(rows.size()); }
    QString cellText(int r, int c) const override { return rows[static_cast<size_t>(r)][c]; }
    FontSpec font() const override { return fontSpec; }
    void fetchAll() override { ++fetchAllCalls; }
};

// Every character is half the font height wide; a line is the height plus 2; leading 1.
struct FakeMeasure : ITextMeasure {
    int height = 10;
    void selectFont(int h) override { height = h; }
    int charWidth() const { return height / 2; }
    int lineWidth(const QString& t) override { return static_cast<int>(t.size()) * charWidth(); }
    int textHeight(const QString& t, int width, Wrap wrap) override {
        int lines = 0;
        for (const QString& para : t.split(QLatin1Char('\n'))) {
            const int perLine = std::max(1, width / charWidth());
            lines +=
                wrap == Wrap::SingleLine
                    ? 1
                    : std::max<int>(1, (static_cast<int>(para.size()) + perLine - 1) / perLine);
        }
        return lines * lineHeight();
    }
    int lineHeight() override { return height + 2; }
    int charHeight() override { return height + 2; }
    int externalLeading() override { return 1; }
};

}  // namespace pw::print::test
