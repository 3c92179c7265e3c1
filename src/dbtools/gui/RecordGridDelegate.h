#pragma once
// Draws the record grid's cells in the editor's colours: the window colour, pure red for the
// "Sent" cell of a record whose send failed, selected rows tinted a third of the way towards
// the highlight colour, the cursor cell in the highlight colour, blue text while a filter is
// on. The check boxes are drawn centred; "Sent" greyed.

#include <QColor>
#include <QStyledItemDelegate>

namespace pw::dbtools {

struct CellColours {
    QColor background;
    QColor text;
};

class RecordGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The colours of a cell of the record grid model; rowSelected: the grid row is selected.
    [[nodiscard]] static CellColours colours(const QModelIndex& index, bool rowSelected,
                                             const QPalette& palette);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

}  // namespace pw::dbtools
