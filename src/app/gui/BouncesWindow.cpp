#include "app/gui/BouncesWindow.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>

#include "resources/Strings.h"
#include "resources/UserInteraction.h"
#include "ui_d_Bounces.h"

namespace pw::app {

namespace {

template <typename W>
void label(W* widget, int text) {
    widget->setText(str(text));
    widget->setAccessibleName(QString(str(text)).remove(QLatin1Char('&')));
}

}  // namespace

d_Bounces::d_Bounces(QString userDataFolder, bounces::MailboxAccount account,
                     bounces::SoftBounceRule rule, IUserInteraction& ui, QWidget* parent)
    : QDialog(parent),
      m_form(std::make_unique<Ui::d_Bounces>()),
      m_folder(std::move(userDataFolder)),
      m_account(std::move(account)),
      m_rule(rule),
      m_ui(ui),
      m_reports(std::make_unique<bounces::BounceListModel>(bounces::BounceListPart::Recognised)),
      m_unrecognised(
          std::make_unique<bounces::BounceListModel>(bounces::BounceListPart::Unrecognised)) {
    m_form->setupUi(this);
    setWindowTitle(str(ids::kBounceCaption));
    label(m_form->reportsLabel, ids::kBounceRecognisedLabel);
    label(m_form->reportLabel, ids::kBounceReportLabel);
    label(m_form->unrecognisedLabel, ids::kBounceUnrecognisedLabel);
    label(m_form->readButton, ids::kBounceReadNow);
    label(m_form->undoButton, ids::kBounceUndo);
    label(m_form->closeButton, ids::kBounceClose);
    label(m_form->reportFolderLabel, ids::kBounceReportFolderLabel);
    m_form->reportFolder->setAccessibleName(m_form->reportFolderLabel->accessibleName());
    m_form->reportFolder->setPlaceholderText(str(ids::kBounceReportFolderHint));
    m_form->reportFolder->setText(m_account.reportFolder);
    m_form->reports->setAccessibleName(m_form->reportsLabel->accessibleName());
    m_form->reportText->setAccessibleName(m_form->reportLabel->accessibleName());
    m_form->unrecognised->setAccessibleName(m_form->unrecognisedLabel->accessibleName());
    for (QTableView* view : {m_form->reports, m_form->unrecognised})
        view->horizontalHeader()->setStretchLastSection(true);
    m_form->reports->setModel(m_reports.get());
    m_form->unrecognised->setModel(m_unrecognised.get());
    connect(m_form->reports->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& i) { showReport(*m_reports, i); });
    connect(m_form->unrecognised->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& i) { showReport(*m_unrecognised, i); });
    connect(m_form->readButton, &QPushButton::clicked, this, &d_Bounces::readNow);
    connect(m_form->undoButton, &QPushButton::clicked, this, &d_Bounces::undoSelected);
    connect(m_form->closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_form->reportFolder, &QLineEdit::editingFinished, this, [this] {
        const QString folder = m_form->reportFolder->text().trimmed();
        if (folder == m_account.reportFolder)
            return;
        m_account.reportFolder = folder;  // the next read already moves
        if (m_storeReportFolder)
            m_storeReportFolder(folder);
    });
    reload();
}

d_Bounces::~d_Bounces() = default;

void d_Bounces::reload() {
    bounces::CBounceBook book(m_folder, m_rule);
    if (!book.load())
        (void)m_ui.message(str(ids::kBounceCaption),
                           str(ids::kBounceBookUnreadable)
                               .arg(m_folder + QString::fromLatin1(bounces::kBounceBookFileName)),
                           MessageKind::Information);
    const QHash<QString, QString> campaigns = bounces::campaignNames(m_folder, book);
    m_reports->reload(book, campaigns);
    m_unrecognised->reload(book, campaigns);
    m_form->reportText->clear();
    m_form->undoButton->setEnabled(false);
}

void d_Bounces::showReport(const bounces::BounceListModel& model, const QModelIndex& index) {
    const bounces::BounceDecision* d = model.decisionAt(index.row());
    m_form->reportText->setPlainText(d ? d->report : QString());
    // only what was acted on can be taken back
    m_form->undoButton->setEnabled(&model == m_reports.get() && d &&
                                   (d->action == bounces::BounceAction::Suppressed ||
                                    d->action == bounces::BounceAction::Counted));
}

void d_Bounces::readNow() {
    (void)bounces::readMailboxNow(m_account, m_folder, m_rule, m_ui);
    reload();
}

void d_Bounces::undoSelected() {
    const bounces::BounceDecision* d = m_reports->decisionAt(m_form->reports->currentIndex().row());
    if (d && bounces::undoAddress(m_folder, d->recipient, m_ui) == bounces::UndoOutcome::Undone)
        reload();
}

}  // namespace pw::app
