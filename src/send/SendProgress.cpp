#include "send/SendProgress.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <memory>

#include "resources/Strings.h"
#include "send/SendRules.h"

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

void CSendProgressRelay::setSuppressed(int count) {
    emit suppressedChanged(
        formatMessageText(str(ids::kProgressSuppressed), {QString::number(count)}));
}

// Shared by the waiting worker and the queued call, which may run after the worker gave up.
struct CSendProgressRelay::PendingPrompt {
    bool done = false;
    Answer answer = Answer::Cancel;
};

Answer CSendProgressRelay::prompt(SendPrompt kind, const QString& caption, const QString& text) {
    if (QThread::currentThread() == thread())
        return promptHere(kind, caption, text);
    auto pending = std::make_shared<PendingPrompt>();
    {
        std::lock_guard lock(m_mutex);
        if (m_abandoned)
            return Answer::Cancel;
    }
    QMetaObject::invokeMethod(
        this,
        [this, pending, kind, caption, text] {
            {
                std::lock_guard lock(m_mutex);
                if (m_abandoned)
                    return;  // the worker no longer waits: ask nothing
            }
            // the run may end, and its owner let go of this relay, while the question is open
            const QPointer<CSendProgressRelay> self(this);
            const Answer a = promptHere(kind, caption, text);
            if (!self)
                return;
            std::lock_guard lock(m_mutex);
            pending->answer = a;
            pending->done = true;
            m_answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_answered.wait(lock, [&] { return pending->done || m_abandoned; });
    return pending->done ? pending->answer : Answer::Cancel;
}

void CSendProgressRelay::abandonPrompts() {
    std::lock_guard lock(m_mutex);
    m_abandoned = true;
    m_answered.notify_all();
}

Answer CSendProgressRelay::promptHere(SendPrompt kind, const QString& caption,
                                      const QString& text) {
    ++m_asking;
    const QPointer<CSendProgressRelay> self(this);
    const Answer a = askNow(kind, caption, text);
    if (self) {
        --m_asking;
        emit promptClosed();
    }
    return a;
}

Answer CSendProgressRelay::askNow(SendPrompt kind, const QString& caption, const QString& text) {
    switch (kind) {
        case SendPrompt::RetryMail: {
            const Answer a = m_ui.message(caption, text, MessageKind::YesNoCancel);
            return a == Answer::Ok ? Answer::Yes : a;
        }
        case SendPrompt::AddressSkipped: {
            // anything but Cancel lets the run go on
            const Answer a = m_ui.message(caption, text, MessageKind::OkCancel);
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
