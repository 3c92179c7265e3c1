#pragma once
// Draws the record grid's cells in the editor's colours: the window colour, pure red for the
// "Sent" cell of a record whose send failed, selected rows tinted a third of the way towards
// the highlight colour, the cursor cell in the highlight colour, blue text while a filter is
// on. The check boxes are drawn centred; "Sent" greyed.

#include <QColor>
#include <QFont>
#include <QStaticText>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <optional>

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

    // A field's text on one line in rect, cut with an ellipsis where it does not fit: what
    // drawing QFontMetrics::elidedText gives, in the painter's pen. The painter's font must
    // be font.
    void drawFieldText(QPainter* painter, const QRect& rect, Qt::Alignment alignment,
                       const QString& text, const QFont& font) const;

    // The style's check box, copied from a picture it drew once for this look.
    void drawCheckBox(QPainter* painter, const QStyleOptionButton& box, const QStyle* style,
                      const QWidget* widget) const;

private:
    [[nodiscard]] const QFont& cellFont(const QFont& viewFont) const;

    mutable QFont m_viewFont;
    mutable std::optional<QFont> m_cellFont;
    mutable QFont m_ellipsisFont;
    mutable QStaticText m_ellipsis;
    mutable qreal m_ellipsisWidth = 0;
};

}  // namespace pw::dbtools
