#include "compose/gui/ColorChooser.h"

#include <QColorDialog>
#include <QWidget>

namespace pw {

namespace {
ColorChooser& chooser() {
    static ColorChooser c;
    return c;
}
}  // namespace

std::optional<QColor> chooseColor(const QColor& current, QWidget* parent) {
    if (chooser()) {
        return chooser()(current, parent);
    }
    const QColor c = QColorDialog::getColor(current, parent);
    return c.isValid() ? std::optional<QColor>(c) : std::nullopt;
}

void setColorChooser(ColorChooser c) {
    chooser() = std::move(c);
}

void nameForAccessibility(QWidget* widget, const QString& labelText) {
    QString name = labelText;
    name.remove(u'&');
    widget->setAccessibleName(name);
}

}  // namespace pw
