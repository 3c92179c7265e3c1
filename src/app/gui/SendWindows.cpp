#include "app/gui/SendWindows.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QScrollBar>

#include "resources/Strings.h"
#include "send/SendProgress.h"
#include "ui_LogWindow.h"
#include "ui_SendProgressForm.h"
#include "ui_TransmissionDialog.h"

namespace pw::app {

CTransmissionDialog::CTransmissionDialog(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TransmissionDialog>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kTransmissionCaption));
    m_ui->whenSendingGroup->setTitle(str(ids::kWhenSending));
    m_ui->sendToAll->setText(str(ids::kSendToAll));
    m_ui->sendToSelected->setText(str(ids::kSendToSelected));
    m_ui->sendToUnsent->setText(str(ids::kSendToUnsent));
    m_ui->optionsGroup->setTitle(str(ids::kOptions));
    m_ui->minimizeWhenSending->setText(str(ids::kMinimizeWhenSending));
    QPushButton* ok = m_ui->buttons->button(QDialogButtonBox::Ok);
    QPushButton* cancel = m_ui->buttons->button(QDialogButtonBox::Cancel);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setText(str(ids::kButtonOk));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setText(str(ids::kButtonCancel));
    QPushButton* later =
        m_ui->buttons->addButton(str(ids::kSendLater), QDialogButtonBox::ActionRole);
    later->setObjectName(QStringLiteral("sendLaterButton"));
    connect(later, &QPushButton::clicked, this, [this] { done(kSendLaterResult); });
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_ui->whenSendingGroup, m_ui->optionsGroup, m_ui->sendToAll, m_ui->sendToSelected,
             m_ui->sendToUnsent, m_ui->minimizeWhenSending, ok, cancel, later}) {
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            b->setAccessibleName(b->text());
    }
    m_ui->whenSendingGroup->setAccessibleName(m_ui->whenSendingGroup->title());
    m_ui->optionsGroup->setAccessibleName(m_ui->optionsGroup->title());
    m_ui->earlierOutcomesNote->hide();  // until earlier outcomes are counted
    connect(m_ui->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CTransmissionDialog::~CTransmissionDialog() = default;

db::SendSelectionMode CTransmissionDialog::selectionMode() const {
    if (m_ui->sendToSelected->isChecked())
        return db::SendSelectionMode::Marked;
    if (m_ui->sendToUnsent->isChecked())
        return db::SendSelectionMode::NotSent;
    return db::SendSelectionMode::All;
}

void CTransmissionDialog::showRecipientCounts(int all, int marked, int notSent) {
    const std::pair<QAbstractButton*, int> choices[] = {
        {m_ui->sendToAll, all}, {m_ui->sendToSelected, marked}, {m_ui->sendToUnsent, notSent}};
    for (const auto& [button, count] : choices) {
        if (count < 0)
            continue;
        const QString base = button->accessibleName();
        button->setText(count == 1
                            ? str(ids::kTransmissionOneRecipient).arg(base)
                            : str(ids::kTransmissionRecipients).arg(base, QString::number(count)));
        button->setAccessibleName(button->text());
    }
    // Recipients with an outcome of an earlier run: this run clears theirs, so that "not yet
    // sent" afterwards means not yet reached by this run.
    const int earlier = all - notSent;
    if (all >= 0 && notSent >= 0 && earlier > 0) {
        m_ui->earlierOutcomesNote->setText(
            str(ids::kTransmissionEarlierOutcomes).arg(QString::number(earlier)));
        m_ui->earlierOutcomesNote->setAccessibleName(m_ui->earlierOutcomesNote->text());
        m_ui->earlierOutcomesNote->setVisible(true);
    }
    m_counts[0] = all;
    m_counts[1] = marked;
    m_counts[2] = notSent;
    updateEstimate();
}

void CTransmissionDialog::showEstimate(std::function<QString(int)> estimate) {
    m_estimate = std::move(estimate);
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(m_ui->sendToAll),
                               static_cast<QAbstractButton*>(m_ui->sendToSelected),
                               static_cast<QAbstractButton*>(m_ui->sendToUnsent)})
        connect(b, &QAbstractButton::toggled, this, [this](bool on) {
            if (on)
                updateEstimate();
        });
    updateEstimate();
}

void CTransmissionDialog::updateEstimate() {
    const int count = m_counts[int(selectionMode())];
    const QString text = m_estimate && count > 0 ? m_estimate(count) : QString();
    m_ui->sendEstimate->setText(text);
    m_ui->sendEstimate->setAccessibleName(text);
    m_ui->sendEstimate->setVisible(!text.isEmpty());
}

bool CTransmissionDialog::minimizeWhenSending() const {
    return m_ui->minimizeWhenSending->isChecked();
}

CSendProgressForm::CSendProgressForm(send::CSendProgressRelay& relay,
                                     std::function<void()> onCancel, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::SendProgressForm>()),
      m_onCancel(std::move(onCancel)) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kSendCaption));
    m_ui->cancelButton->setText(str(ids::kButtonCancel));
    m_ui->cancelButton->setAccessibleName(str(ids::kButtonCancel));
    m_ui->counterLine->setAccessibleName(str(ids::kProgressCounter));
    m_ui->statusLine->setAccessibleName(str(ids::kProgressStatus));
    m_ui->progressBar->setAccessibleName(str(ids::kProgressBar));
    m_ui->progressBar->setRange(0, 1);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CSendProgressForm::reject);
    m_statusFeed = connect(&relay, &send::CSendProgressRelay::statusChanged, m_ui->statusLine,
                           &QLabel::setText);
    connect(&relay, &send::CSendProgressRelay::counterChanged, m_ui->counterLine, &QLabel::setText);
    connect(&relay, &send::CSendProgressRelay::rangeChanged, this, [this](int total) {
        m_ui->progressBar->setRange(0, std::max(total, 1));
        m_ui->progressBar->setValue(0);
    });
    m_ui->suppressedLine->setAccessibleName(str(ids::kProgressSuppressedName));
    connect(&relay, &send::CSendProgressRelay::suppressedChanged, this, [this](const QString& t) {
        m_ui->suppressedLine->setText(t);
        m_ui->suppressedLine->setVisible(true);
    });
    connect(&relay, &send::CSendProgressRelay::stepped, this,
            [this] { m_ui->progressBar->setValue(m_ui->progressBar->value() + 1); });
}

CSendProgressForm::~CSendProgressForm() = default;

QString CSendProgressForm::counterText() const {
    return m_ui->counterLine->text();
}

QString CSendProgressForm::statusText() const {
    return m_ui->statusLine->text();
}

void CSendProgressForm::reject() {
    if (!m_onCancel) {
        QDialog::reject();
        return;
    }
    m_onCancel();
    if (++m_cancels == 1) {
        // the run ends after the mail in flight; until then the window says so
        disconnect(m_statusFeed);
        m_ui->statusLine->setText(str(ids::kSendStatusStopping));
        m_ui->cancelButton->setText(str(ids::kButtonStopNow));
        m_ui->cancelButton->setAccessibleName(str(ids::kButtonStopNow));
        return;
    }
    m_onCancel = {};
    QDialog::reject();
}

CLogWindow::CLogWindow(std::function<void()> onClosed, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_ui(std::make_unique<Ui::LogWindow>()),
      m_onClosed(std::move(onClosed)) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kLogWindowCaption));
    m_ui->logText->setAccessibleName(str(ids::kLogText));
    m_ui->logText->setMaximumBlockCount(100000);
}

CLogWindow::~CLogWindow() = default;

void CLogWindow::appendLine(const QString& line) {
    m_ui->logText->appendPlainText(line);
}

void CLogWindow::clear() {
    m_ui->logText->clear();
}

QString CLogWindow::text() const {
    return m_ui->logText->toPlainText();
}

void CLogWindow::closeEvent(QCloseEvent* e) {
    if (m_onClosed)
        m_onClosed();
    QWidget::closeEvent(e);
}

}  // namespace pw::app
