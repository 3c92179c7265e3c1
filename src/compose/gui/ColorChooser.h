#pragma once
// The system colour chooser behind one seam, so that tests answer it.

#include <QColor>
#include <functional>
#include <optional>

class QWidget;

namespace pw {

// nullopt: the user cancelled.
using ColorChooser = std::function<std::optional<QColor>(const QColor& current, QWidget* parent)>;

// QColorDialog unless a test put in another chooser.
[[nodiscard]] std::optional<QColor> chooseColor(const QColor& current, QWidget* parent);
void setColorChooser(ColorChooser chooser);

// Sets a widget's accessible name from the text of the label that names it.
void nameForAccessibility(QWidget* widget, const QString& labelText);

}  // namespace pw
