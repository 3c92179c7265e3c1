#include "compose/gui/TextToolDialogs.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>

#include "compose/gui/ColorChooser.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"
#include "ui_SelTemp.h"
#include "ui_d_AutoFrame.h"
#include "ui_d_AutoLine.h"
#include "ui_d_AutoWrap.h"
#include "ui_d_CountCharacters.h"
#include "ui_d_SSTemplate.h"

namespace pw {

namespace {

void okCancel(QDialogButtonBox* box, QDialog* dialog) {
    if (auto* ok = box->button(QDialogButtonBox::Ok)) {
        ok->setText(str(ids::kButtonOk));
    }
    if (auto* cancel = box->button(QDialogButtonBox::Cancel)) {
        cancel->setText(str(ids::kButtonCancel));
    }
    if (auto* save = box->button(QDialogButtonBox::Save)) {
        save->setText(str(ids::kButtonSave));
    }
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
}

void label(QLabel* l, int id) {
    l->setText(str(id));
    if (l->buddy() != nullptr) {
        nameForAccessibility(l->buddy(), str(id));
    }
}

}  // namespace

d_CountCharacters::d_CountCharacters(const TextCounts& counts, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_CountCharacters>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kCountTitle));
    m_ui->label->setText(str(ids::kCountLabel));
    m_ui->characters->setText(QString::number(counts.characters) + u' ' +
                              str(ids::kCountCharacters));
    m_ui->bytes->setText(QString::number(counts.bytes) + u' ' + str(ids::kCountBytes));
    okCancel(m_ui->buttons, this);
}

d_CountCharacters::~d_CountCharacters() = default;

d_AutoWrap::d_AutoWrap(AutoWrapState& state, IUserInteraction& ui, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_AutoWrap>()), m_state(state), m_interaction(ui) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kAutoWrapTitle));
    m_ui->on->setText(str(ids::kAutoWrapOn));
    label(m_ui->lengthLabel, ids::kAutoWrapBytes);
    okCancel(m_ui->buttons, this);
    m_ui->length->setText(QStringLiteral("0"));
    if (state.on()) {
        m_ui->on->setChecked(true);
        m_ui->length->setText(QString::number(state.lineLength));
    }
}

d_AutoWrap::~d_AutoWrap() = default;

void d_AutoWrap::accept() {
    if (confirmAutoWrap(m_state, m_ui->on->isChecked(), m_ui->length->text(), m_interaction)) {
        QDialog::accept();
    }
}

d_AutoLine::d_AutoLine(AutoLineMemory& memory, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_AutoLine>()), m_memory(memory) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kAutoLineTitle));
    label(m_ui->lineTextLabel, ids::kAutoLineText);
    label(m_ui->lengthLabel, ids::kAutoLineLength);
    m_ui->characters->setText(str(ids::kAutoLineCharacters));
    m_ui->repetitions->setText(str(ids::kAutoLineRepetitions));
    okCancel(m_ui->buttons, this);
    m_ui->lineText->setText(memory.lineText);
    m_ui->length->setText(memory.length);
    (memory.mode == AutoLineMode::Characters ? m_ui->characters : m_ui->repetitions)
        ->setChecked(true);
}

d_AutoLine::~d_AutoLine() = default;

void d_AutoLine::accept() {
    m_memory.lineText = m_ui->lineText->text();
    m_memory.length = m_ui->length->text();
    m_memory.mode =
        m_ui->characters->isChecked() ? AutoLineMode::Characters : AutoLineMode::Repetitions;
    m_line = autoLine(m_memory.lineText, leadingNumber(m_memory.length), m_memory.mode);
    QDialog::accept();
}

d_AutoFrame::d_AutoFrame(QString& frameText, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_AutoFrame>()), m_frameText(frameText) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kAutoFrameTitle));
    label(m_ui->frameTextLabel, ids::kAutoFrameText);
    okCancel(m_ui->buttons, this);
    m_ui->frameText->setText(frameText);
}

d_AutoFrame::~d_AutoFrame() = default;

QString d_AutoFrame::frameCharacters() const {
    return m_ui->frameText->text();
}

void d_AutoFrame::done(int result) {
    m_frameText = m_ui->frameText->text();
    QDialog::done(result);
}

SelTemp::SelTemp(TemplatePlaces places, IUserInteraction& ui, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::SelTemp>()),
      m_places(std::move(places)),
      m_interaction(ui) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kSelectTemplateTitle));
    m_ui->deleteTemplate->setText(str(ids::kButtonDelete));
    nameForAccessibility(m_ui->templates, str(ids::kTemplateList));
    okCancel(m_ui->buttons, this);
    m_ui->templates->addItems(mailTemplateNames(m_places));
    m_ui->deleteTemplate->setEnabled(false);
    connect(m_ui->templates, &QListWidget::currentRowChanged, this,
            [this](int row) { m_ui->deleteTemplate->setEnabled(row >= 0); });
    connect(m_ui->deleteTemplate, &QPushButton::clicked, this, &SelTemp::onDelete);
    connect(m_ui->templates, &QListWidget::itemDoubleClicked, this, &SelTemp::accept);
}

SelTemp::~SelTemp() = default;

void SelTemp::onDelete() {
    const int row = m_ui->templates->currentRow();
    if (row < 0) {
        return;
    }
    if (m_interaction.message(str(ids::kDeleteTemplateCaption), str(ids::kDeleteTemplateQuestion),
                              MessageKind::YesNo) != Answer::Yes) {
        return;
    }
    if (removeMailTemplate(m_places, m_ui->templates->item(row)->text()) ==
        TemplateRemoval::Failed) {
        return;  // the list stays as it is
    }
    delete m_ui->templates->takeItem(row);
    m_ui->templates->setCurrentRow(row < m_ui->templates->count() ? row : -1);
}

void SelTemp::accept() {
    const int row = m_ui->templates->currentRow();
    if (row < 0) {
        QDialog::reject();
        return;
    }
    m_name = m_ui->templates->item(row)->text();
    QDialog::accept();
}

d_SSTemplate::d_SSTemplate(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_SSTemplate>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kSaveAsTemplateTitle));
    label(m_ui->nameLabel, ids::kSaveAsTemplateField);
    okCancel(m_ui->buttons, this);
}

d_SSTemplate::~d_SSTemplate() = default;

QString d_SSTemplate::templateName() const {
    return m_ui->name->text();
}

bool runAutoLine(QPlainTextEdit& editor, AutoLineMemory& memory, QWidget* parent) {
    d_AutoLine dialog(memory, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.line().isEmpty()) {
        return false;
    }
    QTextCursor c = editor.textCursor();
    const int start = c.selectionStart();
    const int end = c.selectionEnd();
    QTextCursor insert(editor.document());
    insert.setPosition(start);
    insert.insertText(dialog.line());
    // the selected text stays selected
    c.setPosition(start + static_cast<int>(dialog.line().size()));
    c.setPosition(end + static_cast<int>(dialog.line().size()), QTextCursor::KeepAnchor);
    editor.setTextCursor(c);
    return true;
}

bool runAutoFrame(QPlainTextEdit& editor, QString& frameText, QWidget* parent) {
    d_AutoFrame dialog(frameText, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.frameCharacters().isEmpty()) {
        return false;
    }
    const QString text = editor.toPlainText();
    const QTextCursor c = editor.textCursor();
    const FramedText framed =
        autoFrame(text, c.selectionStart(), c.selectionEnd(), dialog.frameCharacters());
    if (framed.text == text) {
        return false;
    }
    // one edit, so that one undo takes the frame away again
    QTextCursor all(editor.document());
    all.select(QTextCursor::Document);
    all.insertText(framed.text);
    QTextCursor sel(editor.document());
    sel.setPosition(static_cast<int>(framed.selectionStart));
    sel.setPosition(static_cast<int>(framed.selectionEnd), QTextCursor::KeepAnchor);
    editor.setTextCursor(sel);
    return true;
}

}  // namespace pw
