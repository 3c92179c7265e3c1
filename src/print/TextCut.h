#pragma once
// Cutting a text to a width by whole characters: a cut never falls inside a surrogate pair or
// between a base letter and its combining marks, so no half character reaches the page.

#include <QString>
#include <functional>

namespace pw::print {

// The longest start of text that ends on a character boundary and whose width (as widthOf
// measures it) is at most width. The whole text when it fits; empty when not even the first
// character does.
[[nodiscard]] QString cutToWidth(const QString& text, int width,
                                 const std::function<int(const QString&)>& widthOf);

}  // namespace pw::print
