#include "app/gui/QtUserInteraction.h"

#include <QDesktopServices>
#include <QUrl>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGridLayout>
#include <QImageReader>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "compose/gui/PictureFile.h"
#include "resources/Strings.h"
#include "ui_ReportDialog.h"

namespace pw::app {

namespace {

// The picture under the cursor and its size, beside the file list (Qt's own dialog only:
// the desktop's has no room for it).
void addPicturePreview(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (grid == nullptr)
        return;
    auto* box = new QWidget(&dialog);
    auto* boxLayout = new QVBoxLayout(box);
    auto* caption = new QLabel(str(ids::kPictureLabel), box);
    caption->setObjectName(QStringLiteral("pictureSize"));
    auto* picture = new QLabel(box);
    picture->setObjectName(QStringLiteral("picturePreview"));
    picture->setAccessibleName(str(ids::kPictureLabel));
    picture->setFixedSize(160, 120);
    picture->setAlignment(Qt::AlignCenter);
    boxLayout->addWidget(caption);
    boxLayout->addWidget(picture);
    boxLayout->addStretch();
    grid->addWidget(box, 1, grid->columnCount(), grid->rowCount() - 1, 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, box, [=](const QString& path) {
        // the probe refuses damaged and enormous files before anything is decoded
        const PictureProbe probe = probePicture(path);
        if (!probe.error.isEmpty()) {
            caption->setText(str(ids::kPictureLabel));
            picture->clear();
            return;
        }
        caption->setText(QStringLiteral("%1X%2").arg(probe.size.width()).arg(probe.size.height()));
        QImageReader reader(path);
        QSize fit = probe.size;
        if (fit.width() > picture->width() || fit.height() > picture->height())
            fit.scale(picture->size(), Qt::KeepAspectRatio);  // down, never up
        reader.setScaledSize(fit);
        picture->setPixmap(QPixmap::fromImage(reader.read()));
    });
}

class ProgressWindow : public IProgress {
public:
    explicit ProgressWindow(QWidget* parent) : m_dialog(new QDialog(parent)) {
        m_dialog->setObjectName(QStringLiteral("progressWindow"));
        m_dialog->setModal(false);
        auto* layout = new QVBoxLayout(m_dialog);
        m_label = new QLabel(m_dialog);
        m_label->setObjectName(QStringLiteral("progressText"));
        m_bar = new QProgressBar(m_dialog);
        m_bar->setObjectName(QStringLiteral("progressBar"));
        m_bar->setAccessibleName(QStringLiteral("Progress"));
        layout->addWidget(m_label);
        layout->addWidget(m_bar);
        m_buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, m_dialog);
        m_buttons->setObjectName(QStringLiteral("progressButtons"));
        m_buttons->button(QDialogButtonBox::Cancel)
            ->setObjectName(QStringLiteral("progressCancel"));
        m_buttons->hide();
        layout->addWidget(m_buttons);
        QObject::connect(m_buttons, &QDialogButtonBox::rejected, m_dialog, [this] { cancel(); });
        // Esc or the close button of a cancellable display cancel; otherwise they do nothing
        QObject::connect(m_dialog, &QDialog::rejected, m_dialog, [this] {
            if (m_cancellable) {
                cancel();
            }
            if (m_shown)
                m_dialog->show();
        });
        m_dialog->resize(420, 90);
    }
    ~ProgressWindow() override { delete m_dialog; }
    void setCaption(const QString& c) override {
        m_dialog->setWindowTitle(c);
        paint();
    }
    void setText(const QString& t) override {
        m_label->setText(t);
        paint();
    }
    void setRange(int minimum, int maximum) override { m_bar->setRange(minimum, maximum); }
    void setPosition(int p) override {
        m_bar->setValue(p);
        paint();
    }
    void show() override {
        m_shown = true;
        m_dialog->show();
        // once, so that the window is mapped before the work begins
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    void hide() override {
        m_shown = false;
        m_dialog->hide();
    }
    void setCancellable(std::function<void()> onCancel) override {
        m_cancellable = true;
        m_onCancel = std::move(onCancel);
        m_buttons->show();
        // only the Cancel button takes input while work runs on the interface thread
        m_dialog->setWindowModality(Qt::ApplicationModal);
    }
    bool cancelRequested() override {
        // the Cancel click has to be delivered for the work on this thread to see it; a modal
        // display keeps every other window's input away meanwhile
        if (m_cancellable && !m_cancelled && m_dialog->isVisible() &&
            (!m_lastPoll.isValid() || m_lastPoll.elapsed() >= 50)) {
            m_lastPoll.restart();
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return m_cancelled;
    }

private:
    void cancel() {
        if (m_cancelled)
            return;
        m_cancelled = true;
        m_buttons->setEnabled(false);
        if (m_onCancel)
            m_onCancel();
    }
    // Work on the interface thread cannot leave the painting to the event loop; paint at once
    // (no event processing, so nothing else can run in between), at most every 30 ms.
    void paint() {
        if (!m_dialog->isVisible())
            return;
        if (m_lastPaint.isValid() && m_lastPaint.elapsed() < 30)
            return;
        m_lastPaint.restart();
        m_dialog->repaint();
    }
    QDialog* m_dialog;
    QLabel* m_label;
    QProgressBar* m_bar;
    QDialogButtonBox* m_buttons;
    bool m_shown = false;
    bool m_cancellable = false;
    bool m_cancelled = false;
    std::function<void()> m_onCancel;
    QElapsedTimer m_lastPaint;
    QElapsedTimer m_lastPoll;
};

QMessageBox::Icon boxIcon(ChoiceIcon icon) {
    switch (icon) {
        case ChoiceIcon::Information:
            return QMessageBox::Information;
        case ChoiceIcon::Question:
            return QMessageBox::Question;
        case ChoiceIcon::Warning:
            return QMessageBox::Warning;
        case ChoiceIcon::Critical:
            return QMessageBox::Critical;
    }
    return QMessageBox::Information;
}

}  // namespace

Answer QtUserInteraction::message(const QString& caption, const QString& text, MessageKind kind) {
    QMessageBox box(m_parent);
    box.setWindowTitle(caption);
    // texts carry outside words (file names, a server's or provider's answer): never markup
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setObjectName(QStringLiteral("messageBox"));
    switch (kind) {
        case MessageKind::Information:
            box.setIcon(QMessageBox::Information);
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MessageKind::YesNo:
            box.setIcon(QMessageBox::Question);
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::No);
            break;
        case MessageKind::YesNoCancel:
            box.setIcon(QMessageBox::Question);
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Yes);
            break;
        case MessageKind::YesNoCancelDefaultNo:
            box.setIcon(QMessageBox::Question);
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::No);
            break;
        case MessageKind::OkCancel:
            box.setIcon(QMessageBox::Warning);
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Ok:
            return Answer::Ok;
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        default:
            return kind == MessageKind::Information ? Answer::Ok : Answer::Cancel;
    }
}

int QtUserInteraction::choose(const ChoiceRequest& request) {
    QMessageBox box(m_parent);
    box.setObjectName(QStringLiteral("choiceBox"));
    box.setWindowTitle(request.caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(request.text);
    box.setIcon(boxIcon(request.icon));
    QList<QPushButton*> buttons;
    const int escape = escapeIndex(request);
    for (int i = 0; i < request.buttons.size(); ++i) {
        // the escape button closes the box; every other one accepts it
        QPushButton* b = box.addButton(
            request.buttons[i], i == escape ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        b->setObjectName(QStringLiteral("choice%1").arg(i));
        b->setAccessibleName(request.buttons[i]);
        buttons.append(b);
    }
    if (request.defaultButton >= 0 && request.defaultButton < buttons.size())
        box.setDefaultButton(buttons[request.defaultButton]);
    if (escape >= 0)
        box.setEscapeButton(buttons[escape]);
    box.exec();
    const int pressed =
        static_cast<int>(buttons.indexOf(qobject_cast<QPushButton*>(box.clickedButton())));
    return pressed >= 0 ? pressed : escape;
}

int QtUserInteraction::showReport(const ReportRequest& request) {
    QDialog dialog(m_parent);
    Ui::ReportDialog form;
    form.setupUi(&dialog);
    const ChoiceRequest& c = request.choice;
    dialog.setWindowTitle(c.caption);
    form.reportText->setText(c.text);
    form.reportText->setAccessibleName(c.text);
    form.reportList->setHeaderLabels({str(ids::kCheckColumnResult), str(ids::kCheckColumnFinding),
                                      str(ids::kCheckColumnAction)});
    form.reportList->setAccessibleName(c.caption);
    QStyle* style = dialog.style();
    for (const ReportItem& item : request.items) {
        auto* row = new QTreeWidgetItem(form.reportList);
        QStyle::StandardPixmap icon = QStyle::SP_DialogApplyButton;
        int level = ids::kCheckLevelPass;
        if (item.level == ReportLevel::Warning) {
            icon = QStyle::SP_MessageBoxWarning;
            level = ids::kCheckLevelWarning;
        } else if (item.level == ReportLevel::Problem) {
            icon = QStyle::SP_MessageBoxCritical;
            level = ids::kCheckLevelProblem;
        }
        row->setIcon(0, style->standardIcon(icon));
        row->setText(0, str(level));
        row->setText(1, item.title + QStringLiteral(": ") + item.text);
        row->setText(2, item.action);
        row->setToolTip(1, item.text);
        row->setToolTip(2, item.action);
    }
    form.reportList->resizeColumnToContents(0);
    form.reportList->setColumnWidth(1, 380);
    QList<QPushButton*> buttons;
    const int escape = escapeIndex(c);
    int pressed = escape;
    for (int i = 0; i < c.buttons.size(); ++i) {
        auto* b = new QPushButton(c.buttons[i], &dialog);
        b->setObjectName(QStringLiteral("choice%1").arg(i));
        b->setAccessibleName(c.buttons[i]);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, &dialog, [&dialog, &pressed, i] {
            pressed = i;
            dialog.accept();
        });
        form.reportButtons->addWidget(b);
        buttons.append(b);
    }
    if (c.defaultButton >= 0 && c.defaultButton < buttons.size()) {
        buttons[c.defaultButton]->setDefault(true);
        buttons[c.defaultButton]->setFocus();
    }
    // Esc and closing the window answer with the escape button
    if (dialog.exec() != QDialog::Accepted)
        return escape;
    return pressed;
}

std::optional<QString> QtUserInteraction::askText(const TextRequest& request) {
    QInputDialog dialog(m_parent);
    dialog.setObjectName(QStringLiteral("textQuestion"));
    dialog.setWindowTitle(request.caption);
    dialog.setLabelText(request.label);
    dialog.setTextValue(request.text);
    dialog.setInputMode(QInputDialog::TextInput);
    if (auto* field = dialog.findChild<QLineEdit*>())
        field->setAccessibleName(request.label);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

bool QtUserInteraction::openUrl(const QString& url) {
    return QDesktopServices::openUrl(QUrl(url));
}

QStringList QtUserInteraction::chooseFiles(const FileRequest& request) {
    QFileDialog dialog(m_parent, request.caption, request.directory, request.filters);
    dialog.setObjectName(QStringLiteral("fileChooser"));
    switch (request.mode) {
        case FileChoice::OpenFile:
            dialog.setFileMode(QFileDialog::ExistingFile);
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            break;
        case FileChoice::OpenFiles:
            dialog.setFileMode(QFileDialog::ExistingFiles);
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            break;
        case FileChoice::SaveFile:
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            break;
        case FileChoice::Folder:
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOption(QFileDialog::ShowDirsOnly);
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            break;
    }
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (request.preview == FilePreview::Picture)
        addPicturePreview(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

std::unique_ptr<IProgress> QtUserInteraction::createProgress() {
    return std::make_unique<ProgressWindow>(m_parent);
}

}  // namespace pw::app
