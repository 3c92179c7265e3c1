#include "dbtools/gui/RecordGridDelegate.h"

#include <QApplication>
#include <QGlyphRun>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QTextLayout>

#include "dbtools/RecordGridModel.h"

namespace pw::dbtools {

namespace {

int towards(int c, int h) {
    return c + (h - c) * 85 / 255;  // a third of the way, cut toward zero
}

QRect checkRect(const QStyleOptionViewItem& option) {
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    const int w = style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget);
    const int h = style->pixelMetric(QStyle::PM_IndicatorHeight, &option, option.widget);
    return QStyle::alignedRect(option.direction, Qt::AlignCenter, QSize(w, h), option.rect);
}

// A field's text on one line as the style draws it (inside the focus frame margins, cut with
// an ellipsis). A page of the grid is some hundred cells of long values that show a few
// characters each: only a start of the value a little wider than the cell is laid out, once,
// and the glyphs that fit are drawn from that layout. Eliding and then drawing (as the style's
// general item drawing does) shapes every cell's text two or more times, most of the time a
// page takes.
constexpr qsizetype kStartFactorPercent = 120;  // of the characters the cell could show

// Lays out text from 0 to n on one unwrapped line.
void layOut(QTextLayout& layout, const QString& text, qsizetype n) {
    layout.setText(text.left(n));
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setNumColumns(int(n));
    layout.endLayout();
}

}  // namespace

const QFont& RecordGridDelegate::cellFont(const QFont& viewFont) const {
    // Kerning and ligatures are not worth shaping every cell's text for; scripts that need
    // shaping (Arabic, Indic, Thai, ...) are shaped all the same.
    if (!m_cellFont || viewFont != m_viewFont) {
        m_viewFont = viewFont;
        m_cellFont = viewFont;
        m_cellFont->setStyleStrategy(
            QFont::StyleStrategy(viewFont.styleStrategy() | QFont::PreferNoShaping));
    }
    return *m_cellFont;
}

void RecordGridDelegate::drawCheckBox(QPainter* painter, const QStyleOptionButton& box,
                                      const QStyle* style, const QWidget* widget) const {
    // Two boxes a row on every page: drawn by the style once per look, then copied.
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QString key = QStringLiteral("pw-check-%1-%2-%3x%4-%5-%6")
                            .arg(quintptr(style))
                            .arg(int(box.state))
                            .arg(box.rect.width())
                            .arg(box.rect.height())
                            .arg(ratio)
                            .arg(box.palette.cacheKey());
    QPixmap picture;
    if (!QPixmapCache::find(key, &picture)) {
        picture = QPixmap(box.rect.size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        QStyleOptionButton atOrigin = box;
        atOrigin.rect.moveTo(0, 0);
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &atOrigin, &p, widget);
        p.end();
        QPixmapCache::insert(key, picture);
    }
    painter->drawPixmap(box.rect.topLeft(), picture);
}

void RecordGridDelegate::drawFieldText(QPainter* painter, const QRect& rect,
                                       Qt::Alignment alignment, const QString& text,
                                       const QFont& font) const {
    const QFontMetrics fm(font, painter->device());
    const int width = rect.width();
    // right-to-left and centred texts are rare in an address list; the general path is right
    if (text.isRightToLeft() || !(alignment & Qt::AlignLeft) || width <= 0) {
        painter->drawText(rect, int(alignment) | Qt::TextSingleLine,
                          fm.elidedText(text, Qt::ElideRight, width));
        return;
    }
    if (m_ellipsisFont != font || m_ellipsis.text().isEmpty()) {
        m_ellipsisFont = font;
        QString mark(QChar(0x2026));
        if (!fm.inFont(mark[0]))
            mark = QStringLiteral("...");
        m_ellipsis.setText(mark);
        m_ellipsis.prepare(QTransform(), font);
        m_ellipsisWidth = fm.horizontalAdvance(mark);
    }
    QTextLayout layout(QString(), font, painter->device());
    layout.setCacheEnabled(true);  // the measuring below would shape the line again
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    qsizetype n = std::max<qsizetype>(
        8, width * kStartFactorPercent / 100 / std::max(1, fm.averageCharWidth()));
    for (;;) {
        // never between the halves of a pair or before a combining mark
        while (n < text.size() && (text[n].isLowSurrogate() || text[n].isMark()))
            ++n;
        n = std::min(n, text.size());
        layOut(layout, text, n);
        if (n == text.size() || layout.lineAt(0).naturalTextWidth() > width)
            break;
        n *= 2;  // the start fits: the cut, if any, lies further on
    }
    const QTextLine line = layout.lineAt(0);
    const qreal top = rect.top() + (rect.height() - line.height()) / 2;
    const QPointF origin(rect.left(), top);
    if (line.naturalTextWidth() <= width) {
        line.draw(painter, origin);
        return;
    }
    // the last character boundary before which the text stays narrower than the room left
    // beside the ellipsis (QFontMetrics draws nothing where the ellipsis alone is too wide)
    const qreal room = width - m_ellipsisWidth;
    if (room < 0)
        return;
    int fit = 0;
    for (int lo = 1, hi = int(n); lo <= hi;) {
        const int mid = (lo + hi) / 2;
        if (line.cursorToX(mid) < room) {
            fit = mid;
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    while (fit > 0 && !layout.isValidCursorPosition(fit))
        --fit;
    if (fit > 0) {
        for (const QGlyphRun& run : line.glyphRuns(0, fit))
            painter->drawGlyphRun(origin, run);
    }
    painter->drawStaticText(QPointF(rect.left() + line.cursorToX(fit), top), m_ellipsis);
}

CellColours RecordGridDelegate::colours(const QModelIndex& index, bool rowSelected,
                                        const QPalette& palette) {
    QColor bg = palette.color(QPalette::Active, QPalette::Base);
    if (index.column() == kSentColumn && index.data(RecordGridModel::SentValueRole).toInt() == 2)
        bg = QColor(255, 0, 0);
    if (rowSelected) {
        const QColor h = palette.color(QPalette::Active, QPalette::Highlight);
        bg = QColor(towards(bg.red(), h.red()), towards(bg.green(), h.green()),
                    towards(bg.blue(), h.blue()));
    }
    if (index.data(RecordGridModel::CursorRole).toBool())
        bg = palette.color(QPalette::Active, QPalette::Highlight);
    const QColor text = index.data(RecordGridModel::FilterOnRole).toBool()
                            ? QColor(0, 0, 255)
                            : palette.color(QPalette::Active, QPalette::Text);
    return {bg, text};
}

void RecordGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    const CellColours c = colours(index, option.state & QStyle::State_Selected, option.palette);
    // the view has filled the viewport with the window colour already
    if (c.background != option.palette.color(QPalette::Active, QPalette::Base) ||
        option.features.testFlag(QStyleOptionViewItem::Alternate))
        painter->fillRect(option.rect, c.background);
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    if (index.column() < kFirstFieldColumn) {
        QStyleOptionButton box;
        box.rect = checkRect(opt);
        const int check = index.data(Qt::CheckStateRole).toInt();
        box.state = check == Qt::Checked            ? QStyle::State_On
                    : check == Qt::PartiallyChecked ? QStyle::State_NoChange
                                                    : QStyle::State_Off;
        if (index.column() == kSelectColumn)
            box.state |= QStyle::State_Enabled;  // "Sent" stays greyed
        drawCheckBox(painter, box, style, opt.widget);
        return;
    }
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
    const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
    if (opt.text.isEmpty())
        return;
    // set and put back by hand: a full save and restore of the painter costs more
    const QPen pen = painter->pen();
    const QFont font = painter->font();
    painter->setPen(c.text);
    const QFont& cell = cellFont(opt.font);
    painter->setFont(cell);
    drawFieldText(painter, textRect, opt.displayAlignment, opt.text, cell);
    painter->setFont(font);
    painter->setPen(pen);
}

bool RecordGridDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                     const QStyleOptionViewItem& option, const QModelIndex& index) {
    // Only a click inside the "Select" box toggles it; "Sent" is never toggled.
    if (index.column() != kSelectColumn)
        return false;
    if (event->type() != QEvent::MouseButtonRelease)
        return event->type() == QEvent::MouseButtonDblClick &&
               checkRect(option).contains(static_cast<QMouseEvent*>(event)->position().toPoint());
    const auto* me = static_cast<QMouseEvent*>(event);
    if (me->button() != Qt::LeftButton || !checkRect(option).contains(me->position().toPoint()))
        return false;
    const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

}  // namespace pw::dbtools
