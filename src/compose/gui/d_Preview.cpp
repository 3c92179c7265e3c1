#include "compose/gui/d_Preview.h"

#include "compose/gui/ColorChooser.h"
#include "resources/Strings.h"
#include "ui_d_Preview.h"

namespace pw {

d_Preview::d_Preview(std::unique_ptr<CMailPreview> preview, const QFont& textFont, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_Preview>()), m_preview(std::move(preview)) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kPreviewTitle));
    m_ui->tabs->setTabText(0, str(ids::kPreviewTextTab));
    m_ui->tabs->setTabText(1, str(ids::kPreviewHtmlTab));
    m_ui->phoneTextLabel->setText(str(ids::kPreviewPhoneText));
    m_ui->phoneHtmlLabel->setText(str(ids::kPreviewPhoneHtml));
    m_ui->previous->setText(str(ids::kPreviewPrevious));
    m_ui->next->setText(str(ids::kPreviewNext));
    m_ui->close->setText(str(ids::kButtonClose));
    nameForAccessibility(m_ui->text, str(ids::kPreviewTextTab));
    nameForAccessibility(m_ui->html, str(ids::kPreviewHtmlTab));
    nameForAccessibility(m_ui->phoneText, str(ids::kPreviewPhoneText));
    nameForAccessibility(m_ui->phoneHtml, str(ids::kPreviewPhoneHtml));
    nameForAccessibility(m_ui->position, str(ids::kPreviewPosition));
    m_ui->text->setFont(textFont);
    m_ui->phoneText->setFont(textFont);
    connect(m_ui->next, &QPushButton::clicked, this, &d_Preview::onNext);
    connect(m_ui->previous, &QPushButton::clicked, this, &d_Preview::onPrevious);
    connect(m_ui->close, &QPushButton::clicked, this, &QDialog::accept);
    m_preview->build();
    showRecipient();
}

d_Preview::~d_Preview() = default;

void d_Preview::showRecipient() {
    const CMailPreview& p = *m_preview;
    QString text = p.text();
    if (!p.message().error.isEmpty()) {
        text = str(ids::kPreviewCannotBuild).replace(QLatin1StringView("%1"), p.message().error) +
               QStringLiteral("\r\n\r\n") + text;
    }
    for (const QString& notice : p.notices())
        text = notice + QStringLiteral("\r\n\r\n") + text;
    m_ui->text->setPlainText(text);
    m_ui->phoneText->setPlainText(p.mobileText());
    m_ui->html->navigate(p.htmlTarget());
    m_ui->phoneHtml->navigate(p.htmlTarget());
    m_ui->position->setText(p.positionText());
    m_ui->previous->setEnabled(p.canGoBack());
    m_ui->next->setEnabled(p.canGoOn());
}

void d_Preview::onNext() {
    if (m_preview->next()) {
        showRecipient();
    }
}

void d_Preview::onPrevious() {
    if (m_preview->previous()) {
        showRecipient();
    }
}

void d_Preview::done(int result) {
    m_ui->html->clear();
    m_ui->phoneHtml->clear();
    m_preview->close();
    QDialog::done(result);
}

}  // namespace pw
