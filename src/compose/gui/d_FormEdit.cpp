#include "compose/gui/d_FormEdit.h"

#include <QFileInfo>

#include "compose/gui/ColorChooser.h"
#include "compose/gui/PictureFile.h"
#include "compose/gui/StyledTextEdit.h"
#include "compose/gui/d_GraphicEdit.h"
#include "compose/gui/d_TextStyle.h"
#include "compose/gui/d_UrlSetting.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"
#include "ui_d_FormEdit.h"

namespace pw {

d_FormEdit::d_FormEdit(CTemplateWizard& wizard, IUserInteraction& ui, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::d_FormEdit>()),
      m_wizard(wizard),
      m_interaction(ui) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kWizardTitle));
    m_ui->select->setText(str(ids::kWizardSelect));
    m_ui->url->setText(str(ids::kWizardUrl));
    m_ui->textColor->setText(str(ids::kWizardTextColor));
    m_ui->goBack->setText(str(ids::kWizardGoBack));
    m_ui->cancel->setText(str(ids::kButtonCancel));
    nameForAccessibility(m_ui->text, str(ids::kWizardText));
    nameForAccessibility(m_ui->largeView, str(ids::kWizardPagePreview));
    nameForAccessibility(m_ui->smallView, str(ids::kWizardTemplatePreview));
    QFont font(wizard.defaults().face);
    font.setPointSize(std::max(1, wizard.defaults().sizePt));
    m_ui->text->setFont(font);

    connect(m_ui->select, &QPushButton::clicked, this, &d_FormEdit::onSelect);
    connect(m_ui->url, &QPushButton::clicked, this, &d_FormEdit::onUrl);
    connect(m_ui->textColor, &QPushButton::clicked, this, &d_FormEdit::onTextColor);
    connect(m_ui->next, &QPushButton::clicked, this, &d_FormEdit::onNext);
    connect(m_ui->goBack, &QPushButton::clicked, this, &d_FormEdit::onGoBack);
    connect(m_ui->cancel, &QPushButton::clicked, this, &QDialog::reject);
    showPage();
}

d_FormEdit::~d_FormEdit() = default;

void d_FormEdit::showPage() {
    const TagProp* page = m_wizard.page();
    const PageControls c = m_wizard.controls();
    m_ui->prompt->setText(page ? page->prompt : QString());
    m_ui->select->setEnabled(c.select);
    m_ui->url->setEnabled(c.url);
    m_ui->textColor->setEnabled(c.textColor);
    m_ui->text->setEnabled(c.textBox);
    m_ui->goBack->setEnabled(c.goBack);
    m_ui->next->setText(c.last ? str(ids::kWizardDone) : str(ids::kWizardNextPage));
    if (c.textBox) {
        setStyledText(*m_ui->text, m_wizard.styledText(), m_wizard.defaults(), m_wizard.links());
    } else {
        m_ui->text->clear();
    }
    m_ui->largeView->navigate(page ? m_wizard.pageFile() : QStringLiteral("about:blank"));
    const QString picture = m_wizard.pagePreviewPicture();
    m_ui->smallView->navigate(picture.isEmpty() ? QStringLiteral("about:blank") : picture);
}

void d_FormEdit::takeText() {
    if (m_wizard.controls().textBox) {
        m_wizard.setStyledText(styledText(*m_ui->text, m_wizard.defaults()));
    }
}

void d_FormEdit::onSelect() {
    const TagProp* page = m_wizard.page();
    if (page == nullptr || (page->kind != TagKind::Image && page->kind != TagKind::Back)) {
        return;
    }
    FileRequest request;
    request.caption = str(ids::kOpenTitle);
    request.filters =
        QStringList{str(ids::kFilterImages) + QStringLiteral(" (*.gif *.png *.jpg *.jpeg)"),
                    str(ids::kFilterPng) + QStringLiteral(" (*.png)"),
                    str(ids::kFilterJpeg) + QStringLiteral(" (*.jpg *.jpeg)"),
                    str(ids::kFilterGif) + QStringLiteral(" (*.gif)"),
                    str(ids::kFilterAll) + QStringLiteral(" (*)")}
            .join(QStringLiteral(";;"));
    request.preview = FilePreview::Picture;
    const QStringList chosen = m_interaction.chooseFiles(request);
    if (chosen.isEmpty() || chosen.first().isEmpty()) {
        return;
    }
    const QString path = chosen.first();
    const auto refuse = [&](const QString& reason) {
        (void)inform(m_interaction, str(ids::kPictureUnreadable)
                                        .replace(QLatin1StringView("%1"), path)
                                        .replace(QLatin1StringView("%2"), reason));
    };
    if (page->kind == TagKind::Back) {
        const PictureProbe probe = probePicture(path);
        if (!probe.error.isEmpty()) {
            refuse(probe.error);
            return;
        }
        if (!m_wizard.chooseBackgroundFile(path)) {
            (void)inform(m_interaction,
                         str(ids::kBackgroundCopyFailed).replace(QLatin1StringView("%1"), path));
            return;
        }
        showPage();
        return;
    }
    static const QStringList editable{"jpg", "jpeg", "bmp", "gif", "png"};
    if (!editable.contains(QFileInfo(path).suffix().toLower())) {
        return;
    }
    const PictureProbe probe = probePicture(path);
    if (!probe.error.isEmpty()) {
        refuse(probe.error);
        return;
    }
    d_GraphicEdit edit(path, probe.size, QFileInfo(m_wizard.pageFile()).path() + u'/',
                       m_interaction, this);
    if (edit.exec() != QDialog::Accepted) {
        return;
    }
    m_wizard.takeEditedPicture(edit.writtenPath());
    m_ui->largeView->navigate(m_wizard.pageFile());
}

void d_FormEdit::onUrl() {
    const QString old = m_wizard.oldValue();
    d_UrlSetting dialog(old, this);
    if (dialog.exec() == QDialog::Accepted) {
        m_wizard.setUrl(dialog.text());
        showPage();
        return;
    }
    if (!old.isEmpty()) {
        if (m_interaction.message(str(ids::kGraphicSelectionCaption),
                                  str(ids::kDeleteGraphicQuestion),
                                  MessageKind::YesNo) == Answer::Yes) {
            m_wizard.setUrl(QString());
            showPage();
        }
    }
}

void d_FormEdit::onTextColor() {
    const TagProp* page = m_wizard.page();
    if (page == nullptr) {
        return;
    }
    if (page->kind == TagKind::BgColor) {
        TextStyle style;
        style.color =
            m_wizard.currentColor() ? QColor(*m_wizard.currentColor()) : QColor(Qt::black);
        d_TextStyle dialog(style, d_TextStyle::Mode::ColorOnly, this);
        if (dialog.exec() == QDialog::Accepted) {
            m_wizard.setCurrentColor(dialog.style().color.rgb());
            m_wizard.applyPage();
            showPage();
        }
        return;
    }
    if (page->kind != TagKind::String || m_ui->text->document()->isEmpty()) {
        return;
    }
    d_TextStyle dialog(selectionStyle(*m_ui->text, m_wizard.defaults(), m_wizard.links()),
                       d_TextStyle::Mode::Text, this);
    if (dialog.exec() == QDialog::Accepted) {
        applyStyle(*m_ui->text, dialog.style(), m_wizard.defaults(), m_wizard.links());
    }
}

void d_FormEdit::onNext() {
    takeText();
    if (m_wizard.controls().last) {
        if (!m_wizard.finish()) {
            (void)inform(m_interaction, str(ids::kWizardWriteFailed)
                                            .replace(QLatin1StringView("%1"),
                                                     QFileInfo(m_wizard.pageFile()).path()));
            return;
        }
        accept();
        return;
    }
    m_wizard.next();
    showPage();
}

void d_FormEdit::onGoBack() {
    takeText();
    m_wizard.back();
    showPage();
}

}  // namespace pw
