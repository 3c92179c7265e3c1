#include "print/gui/PrintText.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QRegularExpression>
#include <QTextLayout>

#include "print/TextCut.h"

namespace pw::print {

namespace {

bool looksSerif(const QString& family) {
    return family.contains(QLatin1String("Mincho"), Qt::CaseInsensitive) ||
           family.contains(QLatin1String("Serif"), Qt::CaseInsensitive) ||
           family.contains(QStringLiteral("明朝"));
}

QString expandTabs(QString text) {
    return text.replace(QLatin1Char('\t'), QLatin1String("    "));
}

}  // namespace

ResolvedFont resolvePrintFont(const FontSpec& grid, const QString& fontName) {
    ResolvedFont r;
    r.requested = fontName.trimmed();
    QString face = grid.family;
    if (!r.requested.isEmpty()) {
        if (QFontDatabase::families().contains(r.requested, Qt::CaseInsensitive)) {
            face = r.requested;
        } else {
            r.missing = true;
        }
    }
    QFont font(face);
    font.setWeight(static_cast<QFont::Weight>(grid.weight));
    font.setItalic(grid.italic);
    const QString used = QFontInfo(font).family();
    QStringList families{face};
    const QStringList gothic{QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic")};
    const QStringList mincho{QStringLiteral("IPAMincho"), QStringLiteral("IPAPMincho")};
    families += looksSerif(face) || looksSerif(used) ? mincho + gothic : gothic + mincho;
    font.setFamilies(families);
    // Exact metrics on the printer: no hinting to the screen's pixel grid.
    font.setHintingPreference(QFont::PreferNoHinting);
    // No ligatures: "fi" stays two letters for whoever searches or copies the printed list.
    font.setStyleStrategy(QFont::StyleStrategy(QFont::PreferAntialias | QFont::PreferNoShaping));
    r.font = font;
    return r;
}

static bool needsBreaking(const QString& text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
           text.contains(QLatin1Char('\t'));
}

int CellTextBreaker::width(const QString& text) const {
    return m_metrics.horizontalAdvance(text.contains(QLatin1Char('\t')) ? expandTabs(text) : text);
}

int CellTextBreaker::lineCount(const QString& text, int width, Wrap wrap) const {
    if (!needsBreaking(text) &&
        (wrap == Wrap::SingleLine || m_metrics.horizontalAdvance(text) <= width)) {
        return 1;
    }
    return static_cast<int>(lines(text, width, wrap).size());
}

QStringList CellTextBreaker::lines(const QString& text, int width, Wrap wrap) const {
    QStringList out;
    const auto advance = [this](const QString& s) { return m_metrics.horizontalAdvance(s); };
    const int room = std::max(width, 0);
    if (!needsBreaking(text)) {
        if (m_metrics.horizontalAdvance(text) <= width) {
            return {text};
        }
        if (wrap == Wrap::SingleLine) {
            return {cutToWidth(text, room, advance)};
        }
    }
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    const QStringList paragraphs = expandTabs(text).split(lineEnd);
    for (const QString& para : paragraphs) {
        if (wrap == Wrap::SingleLine || m_metrics.horizontalAdvance(para) <= width) {
            out << cutToWidth(para, room, advance);
            continue;
        }
        QTextLayout layout(para, m_font, m_device);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(width, 1));
            // A single character wider than the cell is cut like any other overlong line.
            out << cutToWidth(para.mid(line.textStart(), line.textLength()), room, advance);
        }
        layout.endLayout();
    }
    return out;
}

void PrinterTextMeasure::selectFont(int pixelHeight) {
    m_font.setPixelSize(std::max(1, pixelHeight));
    m_breaker = CellTextBreaker(m_font, m_device);
}

int PrinterTextMeasure::lineWidth(const QString& text) {
    return m_breaker.width(text);
}

int PrinterTextMeasure::textHeight(const QString& text, int width, Wrap wrap) {
    return m_breaker.lineCount(text, width, wrap) * m_breaker.metrics().height();
}

int PrinterTextMeasure::lineHeight() {
    return m_breaker.metrics().height();
}

int PrinterTextMeasure::charHeight() {
    return m_breaker.metrics().ascent() + m_breaker.metrics().descent();
}

int PrinterTextMeasure::externalLeading() {
    return std::max(0, m_breaker.metrics().leading());
}

}  // namespace pw::print
