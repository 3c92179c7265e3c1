#include "app/gui/DesktopLauncher.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

namespace pw::app {

void openWithDesktop(QObject* owner, const QUrl& url, std::function<void()> failed) {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        if (!QDesktopServices::openUrl(url))
            failed();
        return;
    }
    auto* process = new QProcess(owner);
    // the page's program may stay in front of xdg-open; what it prints is not ours
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, owner,
                     [process, failed](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         // xdg-open's own codes: 2 no such file, 3 no program, 4 it failed
                         if (status == QProcess::NormalExit && code >= 2 && code <= 4)
                             failed();
                     });
    QObject::connect(process, &QProcess::errorOccurred, owner,
                     [process, failed](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         process->deleteLater();
                         failed();
                     });
    process->start(opener, {url.toString(QUrl::FullyEncoded)});
}

}  // namespace pw::app
