#pragma once
// How the send worker reaches what the user sees: the progress display (counter line,
// status line, bar) and the prompts of a run. The worker calls these from its own thread
// and never touches a widget; a prompt blocks the worker until the user has answered.

#include <QObject>
#include <QString>
#include <condition_variable>
#include <mutex>

#include "resources/UserInteraction.h"

namespace pw::send {

// The prompts a run raises, each with its buttons.
enum class SendPrompt {
    RetryMail,        // a mail finally failed, policy "Display dialog": Yes / No / Cancel
    AddressSkipped,   // double-byte address, policy "Display dialog": OK / Cancel
    ReconnectFailed,  // a reconnect attempt failed: OK
    EscapedFailure,   // a failure ended the run: OK (error)
};

class ISendProgress {
public:
    virtual ~ISendProgress() = default;
    virtual void setStatus(const QString& text) = 0;
    // "%d  /  %d"
    virtual void setCounter(int current, int total) = 0;
    // The bar's range 0 ... total, position 0.
    virtual void setRange(int total) = 0;
    virtual void step() = 0;
    // Blocks until answered. Ok, Yes, No or Cancel, among the buttons of the prompt.
    [[nodiscard]] virtual Answer prompt(SendPrompt kind, const QString& caption,
                                        const QString& text) = 0;
    // From the interface thread when the run is cancelled: a prompt the worker waits on, and
    // every later one, returns Cancel at once, so that the worker never waits for a thread
    // that may be waiting for it.
    virtual void abandonPrompts() {}
    // How many recipients the suppression list kept out of the run.
    virtual void setSuppressed(int count) { (void)count; }
};

// "%d  /  %d" with two blanks on each side of the slash.
[[nodiscard]] QString counterText(int current, int total);

// Carries the worker's calls to an object on the interface thread: the display updates as
// queued signals, the prompts as blocking calls into the interface thread, where they are
// answered through pw::IUserInteraction. Nothing here calls back into the event loop: the
// interface thread's own loop repaints. A prompt waits for the interface thread only until it
// is answered or abandoned (abandonPrompts, which the worker's cancel calls); an abandoned
// relay stays so, so a window makes one per run.
class CSendProgressRelay : public QObject, public ISendProgress {
    Q_OBJECT
public:
    // Lives on the thread that creates it; `ui` answers the prompts there.
    explicit CSendProgressRelay(IUserInteraction& ui, QObject* parent = nullptr);

    void setStatus(const QString& text) override;
    void setCounter(int current, int total) override;
    void setRange(int total) override;
    void step() override;
    Answer prompt(SendPrompt kind, const QString& caption, const QString& text) override;
    void abandonPrompts() override;
    void setSuppressed(int count) override;
    // Whether a question of the worker is open on this thread (its box runs an event loop of
    // its own, in which the run may end): the front end waits for promptClosed() to tear down.
    [[nodiscard]] bool asking() const { return m_asking > 0; }

signals:
    void statusChanged(const QString& text);
    void counterChanged(const QString& text);
    void rangeChanged(int total);
    void stepped();
    void suppressedChanged(const QString& text);
    void promptClosed();

private:
    struct PendingPrompt;
    Answer promptHere(SendPrompt kind, const QString& caption, const QString& text);
    Answer askNow(SendPrompt kind, const QString& caption, const QString& text);
    IUserInteraction& m_ui;
    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_abandoned = false;
    int m_asking = 0;
};

}  // namespace pw::send
