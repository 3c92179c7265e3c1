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
    opt.state &= ~QStyle::State_Selected;
    opt.state &= ~QStyle::State_HasFocus;
    opt.backgroundBrush = Qt::NoBrush;
    opt.palette.setColor(QPalette::Text, c.text);
    opt.palette.setColor(QPalette::HighlightedText, c.text);
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
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
