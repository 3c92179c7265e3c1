#pragma once
// What the window tests share: finding a control by its object name, and answering a modal
// dialog from inside the exec() that shows it.
#include <QApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace pw::test {

// The control `name` below `parent`. A missing one ends the test program with its name:
// every caller would dereference it at once.
template <typename T>
T* child(const QObject* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr)
        qFatal("no control %s below %s", name, qPrintable(parent->objectName()));
    return found;
}

// Runs act on the next modal dialog of type T once it is up (polled every 10 ms, given up
// with a warning after ten seconds so that a test which never opens one does not hang).
template <typename T, typename F>
void whenModal(F act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    const auto deadline = std::make_shared<QDeadlineTimer>(10000);
    QObject::connect(timer, &QTimer::timeout, [timer, act, deadline] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        } else if (deadline->hasExpired()) {
            timer->stop();
            timer->deleteLater();
            qWarning("no modal %s came up", T::staticMetaObject.className());
        }
    });
    timer->start();
}

}  // namespace pw::test
