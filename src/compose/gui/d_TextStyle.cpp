#include "compose/gui/d_TextStyle.h"

#include <QFontDatabase>
#include <QPushButton>

#include "compose/gui/ColorChooser.h"
#include "resources/Strings.h"
#include "ui_d_TextStyle.h"

namespace pw {

d_TextStyle::d_TextStyle(const TextStyle& style, Mode mode, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_TextStyle>()), m_color(style.color) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kTextStyleTitle));
    const std::pair<QLabel*, int> labels[] = {{m_ui->fontLabel, ids::kTextStyleFont},
                                              {m_ui->sizeLabel, ids::kTextStyleSize},
                                              {m_ui->colorLabel, ids::kTextStyleColor},
                                              {m_ui->linkLabel, ids::kTextStyleLink}};
    for (const auto& [label, id] : labels) {
        label->setText(str(id));
        nameForAccessibility(label->buddy(), str(id));
    }
    m_ui->bold->setText(str(ids::kTextStyleBold));
    m_ui->italic->setText(str(ids::kTextStyleItalic));
    nameForAccessibility(m_ui->bold, str(ids::kTextStyleBold));
    nameForAccessibility(m_ui->italic, str(ids::kTextStyleItalic));
    QFont b = m_ui->bold->font();
    b.setBold(true);
    m_ui->bold->setFont(b);
    b.setItalic(true);
    m_ui->italic->setFont(b);
    m_ui->deleteColor->setText(str(ids::kTextStyleDeleteColor));
    m_ui->buttons->button(QDialogButtonBox::Ok)->setText(str(ids::kButtonOk));
    m_ui->buttons->button(QDialogButtonBox::Cancel)->setText(str(ids::kButtonCancel));

    m_ui->font->addItem(str(ids::kTextStyleNone));
    m_ui->font->addItems(QFontDatabase::families());
    const int at = style.face.isEmpty() ? -1 : m_ui->font->findText(style.face);
    m_ui->font->setCurrentIndex(at < 0 ? 0 : at);
    for (int id : {ids::kSizeVerySmall, ids::kSizeSmall, ids::kSizeStandard, ids::kSizeLarge,
                   ids::kSizeLarger, ids::kSizeVeryLarge, ids::kSizeLargest}) {
        m_ui->size->addItem(str(id));
    }
    m_ui->size->setCurrentIndex(std::clamp(style.sizeStep, 1, 7) - 1);
    m_ui->bold->setChecked(style.bold);
    m_ui->italic->setChecked(style.italic);
    m_ui->link->setText(style.link);
    showColor();

    if (mode == Mode::ColorOnly) {
        for (QWidget* w : {static_cast<QWidget*>(m_ui->font), static_cast<QWidget*>(m_ui->size),
                           static_cast<QWidget*>(m_ui->bold), static_cast<QWidget*>(m_ui->italic),
                           static_cast<QWidget*>(m_ui->link)}) {
            w->setEnabled(false);
        }
    }
    connect(m_ui->color, &QPushButton::clicked, this, [this] {
        if (const auto c = chooseColor(m_color, this)) {
            m_color = *c;
            showColor();
        }
    });
    connect(m_ui->deleteColor, &QPushButton::clicked, this, [this] {
        m_color = Qt::black;
        showColor();
    });
    connect(m_ui->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

d_TextStyle::~d_TextStyle() = default;

void d_TextStyle::showColor() {
    m_ui->color->setStyleSheet(QStringLiteral("background-color: %1;").arg(m_color.name()));
}

TextStyle d_TextStyle::style() const {
    TextStyle s;
    s.face = m_ui->font->currentIndex() > 0 ? m_ui->font->currentText() : QString();
    s.sizeStep = m_ui->size->currentIndex() + 1;
    s.bold = m_ui->bold->isChecked();
    s.italic = m_ui->italic->isChecked();
    s.color = m_color;
    s.link = m_ui->link->text();
    return s;
}

}  // namespace pw
