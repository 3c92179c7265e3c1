#pragma once
// Opens a file or page with the desktop's own program. xdg-open tells that no program could
// show it only when it ends, so a started xdg-open is not taken for an opened page: its end is
// watched and failed() called when nothing could show the page.

#include <QObject>
#include <QUrl>
#include <functional>

namespace pw::app {

void openWithDesktop(QObject* owner, const QUrl& url, std::function<void()> failed);

}  // namespace pw::app
