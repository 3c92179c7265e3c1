#include "dbtools/gui/RecordGridDelegate.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

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
// an ellipsis), shaped once: a page of the grid is some hundred cells of long values that
// show a few characters each, and laying out every value in full several times over (as
// the style's general item drawing does) is most of the time a page takes.
QString elidedStart(const QString& text, const QFontMetrics& fm, int width) {
    // Eliding a start that overflows the cell gives what eliding the whole text gives.
    qsizetype n = std::max<qsizetype>(8, 2 * width / std::max(1, fm.averageCharWidth()));
    for (;;) {
        // never between the halves of a pair or before a combining mark
        while (n < text.size() && (text[n].isLowSurrogate() || text[n].isMark()))
            ++n;
        if (n >= text.size())
            return fm.elidedText(text, Qt::ElideRight, width);
        const QString start = text.left(n);
        QString shown = fm.elidedText(start, Qt::ElideRight, width);
        if (shown != start)
            return shown;
        n *= 2;
    }
}

}  // namespace

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
    painter->fillRect(option.rect, c.background);
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    if (index.column() < kFirstFieldColumn) {
        QStyleOptionButton box;
        box.rect = checkRect(opt);
        box.state = index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On
                                                                          : QStyle::State_Off;
        if (index.column() == kSelectColumn)
            box.state |= QStyle::State_Enabled;  // "Sent" stays greyed
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, opt.widget);
        return;
    }
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
    const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
    const QFontMetrics fm(opt.font);
    const QString shown = elidedStart(opt.text, fm, textRect.width());
    if (shown.isEmpty())
        return;
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(c.text);
    painter->drawText(textRect, int(opt.displayAlignment) | Qt::TextSingleLine, shown);
    painter->restore();
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
