#include "send/SendProgress.h"

#include <QMetaObject>
#include <QThread>

namespace pw::send {

QString counterText(int current, int total) {
    return QStringLiteral("%1  /  %2").arg(current).arg(total);
}

CSendProgressRelay::CSendProgressRelay(IUserInteraction& ui, QObject* parent)
    : QObject(parent), m_ui(ui) {}

void CSendProgressRelay::setStatus(const QString& text) {
    emit statusChanged(text);
}

void CSendProgressRelay::setCounter(int current, int total) {
    emit counterChanged(counterText(current, total));
}

void CSendProgressRelay::setRange(int total) {
    emit rangeChanged(total);
}

void CSendProgressRelay::step() {
    emit stepped();
}

Answer CSendProgressRelay::prompt(SendPrompt kind, const QString& caption, const QString& text) {
    if (QThread::currentThread() == thread())
        return promptHere(kind, caption, text);
    Answer answer = Answer::Cancel;
    QMetaObject::invokeMethod(
        this, [&] { answer = promptHere(kind, caption, text); }, Qt::BlockingQueuedConnection);
    return answer;
}

Answer CSendProgressRelay::promptHere(SendPrompt kind, const QString& caption,
                                      const QString& text) {
    switch (kind) {
        case SendPrompt::RetryMail: {
            const Answer a = m_ui.message(caption, text, MessageKind::YesNoCancel);
            return a == Answer::Ok ? Answer::Yes : a;
        }
        case SendPrompt::AddressSkipped: {
            // OK / Cancel: asked as Yes/No/Cancel with Yes preselected; anything but Cancel
            // lets the run go on.
            const Answer a = m_ui.message(caption, text, MessageKind::YesNoCancel);
            return a == Answer::Cancel ? Answer::Cancel : Answer::Ok;
        }
        case SendPrompt::ReconnectFailed:
        case SendPrompt::EscapedFailure:
            (void)m_ui.message(caption, text, MessageKind::Information);
            return Answer::Ok;
    }
    return Answer::Ok;
}

}  // namespace pw::send
