#pragma once
// The print font and the one way a cell's text is broken into lines, shared by the measuring
// of the layout and the drawing of the pages, so that what was measured is what is drawn.

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <QStringList>

#include "print/GridPageLayout.h"

class QPaintDevice;

namespace pw::print {

struct ResolvedFont {
    QFont font;            // pixel size still to be set
    bool missing = false;  // the print font name names no installed font
    QString requested;
};

// The grid's font, its face replaced by the print font name when that is set and installed;
// faces installed for Japanese text stand behind it for the characters it has no glyphs for.
[[nodiscard]] ResolvedFont resolvePrintFont(const FontSpec& grid, const QString& fontName);

// Breaks cell texts into the lines a cell shows, in one font on one device: explicit line
// ends kept, tabs expanded, long lines broken at words (at characters where a word is wider
// than the cell) when wrapping, and otherwise cut after the last whole character that fits.
class CellTextBreaker {
public:
    CellTextBreaker(const QFont& font, QPaintDevice* device)
        : m_font(font), m_device(device), m_metrics(font, device) {}
    [[nodiscard]] QStringList lines(const QString& text, int width, Wrap wrap) const;
    // How many lines lines() gives, without building them where one line is enough.
    [[nodiscard]] int lineCount(const QString& text, int width, Wrap wrap) const;
    [[nodiscard]] const QFontMetrics& metrics() const { return m_metrics; }
    [[nodiscard]] int width(const QString& text) const;

private:
    QFont m_font;
    QPaintDevice* m_device;
    QFontMetrics m_metrics;
};

// Measures with the print font on the printer; the layout chooses the height.
class PrinterTextMeasure : public ITextMeasure {
public:
    PrinterTextMeasure(const QFont& font, QPaintDevice* device)
        : m_font(font), m_device(device), m_breaker(m_font, device) {}
    void selectFont(int pixelHeight) override;
    int lineWidth(const QString& text) override;
    int textHeight(const QString& text, int width, Wrap wrap) override;
    int lineHeight() override;
    int charHeight() override;
    int externalLeading() override;

private:
    QFont m_font;
    QPaintDevice* m_device;
    CellTextBreaker m_breaker;
};

}  // namespace pw::print
