#pragma once
// What the user sees of a send run: the Transmission dialog that chooses the recipients, the
// modeless progress window "Sending Mail" with Cancel, and the live log window.

#include <QDialog>
#include <QWidget>
#include <functional>
#include <memory>

#include "db/TDbData.h"

namespace Ui {
class TransmissionDialog;
class SendProgressForm;
class LogWindow;
}  // namespace Ui

namespace pw::send {
class CSendProgressRelay;
}

namespace pw::app {

// "Transmission": all records, the records marked in the grid, or those not yet sent; and
// whether the main window is minimised during the run. "all" is checked each time it opens.
class CTransmissionDialog : public QDialog {
    Q_OBJECT
public:
    explicit CTransmissionDialog(QWidget* parent = nullptr);
    ~CTransmissionDialog() override;

    [[nodiscard]] db::SendSelectionMode selectionMode() const;
    [[nodiscard]] bool minimizeWhenSending() const;
    // exec()'s result for "Send later...": the recipients not yet sent go at a time to come.
    static constexpr int kSendLaterResult = 2;
    // Each choice with the number of recipients it reaches (a count below 0 is not shown).
    void showRecipientCounts(int all, int marked, int notSent);
    // Below the choices: how long the chosen recipients take at the account's pace, from
    // their number; follows the choice.
    void showEstimate(std::function<QString(int recipients)> estimate);

private:
    void updateEstimate();
    std::unique_ptr<Ui::TransmissionDialog> m_ui;
    int m_counts[3] = {-1, -1, -1};
    std::function<QString(int)> m_estimate;
};

// The progress window of one run, fed by the worker through the relay. Cancel lets the mail
// being transmitted finish and ends the run after it; the window stays and says so, and its
// button then stops at once ("Stop Now") and the window goes.
class CSendProgressForm : public QDialog {
    Q_OBJECT
public:
    CSendProgressForm(send::CSendProgressRelay& relay, std::function<void()> onCancel,
                      QWidget* parent = nullptr);
    ~CSendProgressForm() override;

    [[nodiscard]] QString counterText() const;
    [[nodiscard]] QString statusText() const;

protected:
    void reject() override;  // Esc and the close box cancel as the button does

private:
    std::unique_ptr<Ui::SendProgressForm> m_ui;
    std::function<void()> m_onCancel;
    QMetaObject::Connection m_statusFeed;
    int m_cancels = 0;
};

// "Log": the entries of the send log as they are written, while "LogView" is on. Closing it
// switches "LogView" off (onClosed).
class CLogWindow : public QWidget {
    Q_OBJECT
public:
    explicit CLogWindow(std::function<void()> onClosed, QWidget* parent = nullptr);
    ~CLogWindow() override;

    void appendLine(const QString& line);
    void clear();
    [[nodiscard]] QString text() const;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    std::unique_ptr<Ui::LogWindow> m_ui;
    std::function<void()> m_onClosed;
};

}  // namespace pw::app
