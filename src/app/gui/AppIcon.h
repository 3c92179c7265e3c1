#pragma once
// The program's icon, drawn in code so that the window, the desktop entry's pictures and
// any size in between come from one design: three envelopes fanned out, the front one
// sealed with a round stamp.

#include <QIcon>
#include <QImage>

namespace pw::app {

[[nodiscard]] QImage postwickIconImage(int size);
[[nodiscard]] QIcon postwickIcon();

}  // namespace pw::app
