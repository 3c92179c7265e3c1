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

QStringList cellLines(const QString& text, const QFont& font, QPaintDevice* device, int width,
                      Wrap wrap) {
    QStringList out;
    const QFontMetrics metrics(font, device);
    const QStringList paragraphs =
        expandTabs(text).split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (const QString& para : paragraphs) {
        if (wrap == Wrap::SingleLine || metrics.horizontalAdvance(para) <= width) {
            out << cutToWidth(para, std::max(width, 0),
                              [&](const QString& s) { return metrics.horizontalAdvance(s); });
            continue;
        }
        QTextLayout layout(para, font, device);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(width, 1));
            QString piece = para.mid(line.textStart(), line.textLength());
            // A single character wider than the cell is cut like any other overlong line.
            out << cutToWidth(piece, std::max(width, 0),
                              [&](const QString& s) { return metrics.horizontalAdvance(s); });
        }
        layout.endLayout();
    }
    return out;
}

void PrinterTextMeasure::selectFont(int pixelHeight) {
    m_font.setPixelSize(std::max(1, pixelHeight));
}

int PrinterTextMeasure::lineWidth(const QString& text) {
    return QFontMetrics(m_font, m_device).horizontalAdvance(expandTabs(text));
}

int PrinterTextMeasure::textHeight(const QString& text, int width, Wrap wrap) {
    const QFontMetrics metrics(m_font, m_device);
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')) &&
        (wrap == Wrap::SingleLine || metrics.horizontalAdvance(expandTabs(text)) <= width)) {
        return metrics.height();
    }
    return static_cast<int>(cellLines(text, m_font, m_device, width, wrap).size()) *
           metrics.height();
}

int PrinterTextMeasure::lineHeight() {
    return QFontMetrics(m_font, m_device).height();
}

int PrinterTextMeasure::charHeight() {
    const QFontMetrics metrics(m_font, m_device);
    return metrics.ascent() + metrics.descent();
}

int PrinterTextMeasure::externalLeading() {
    return std::max(0, QFontMetrics(m_font, m_device).leading());
}

}  // namespace pw::print
