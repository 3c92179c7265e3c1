#include "app/gui/QtUserInteraction.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QVBoxLayout>

namespace pw::app {

namespace {

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
        layout->addWidget(m_label);
        layout->addWidget(m_bar);
        m_dialog->resize(420, 90);
    }
    ~ProgressWindow() override { delete m_dialog; }
    void setCaption(const QString& c) override {
        m_dialog->setWindowTitle(c);
        repaint();
    }
    void setText(const QString& t) override {
        m_label->setText(t);
        repaint();
    }
    void setRange(int minimum, int maximum) override { m_bar->setRange(minimum, maximum); }
    void setPosition(int p) override {
        m_bar->setValue(p);
        repaint();
    }
    void show() override {
        m_dialog->show();
        // once, so that the window is mapped before the work begins
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    void hide() override { m_dialog->hide(); }

private:
    // Paints this window only: dispatching events here would run timers, queued calls and
    // socket handlers in the middle of whatever reports its progress.
    void repaint() {
        if (m_dialog->isVisible())
            m_dialog->repaint();
    }
    QDialog* m_dialog;
    QLabel* m_label;
    QProgressBar* m_bar;
};

}  // namespace

Answer QtUserInteraction::message(const QString& caption, const QString& text, MessageKind kind) {
    QMessageBox box(m_parent);
    box.setWindowTitle(caption);
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
    }
    QApplication::beep();
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

std::unique_ptr<IProgress> QtUserInteraction::createProgress() {
    return std::make_unique<ProgressWindow>(m_parent);
}

}  // namespace pw::app
