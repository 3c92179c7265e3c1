#include "print/gui/d_PrinterSetup.h"

#include <QPushButton>

#include "print/gui/PrintChoosers.h"
#include "resources/Strings.h"
#include "ui_d_PrinterSetup.h"

namespace pw::print {

d_PrinterSetup::d_PrinterSetup(PrintSettings& settings, QPrinter& printer, IPrintChoosers& choosers,
                               QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::d_PrinterSetup>()),
      m_settings(settings),
      m_printer(printer),
      m_choosers(choosers),
      m_fontName(settings.fontName) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::PRINT_SETUP_TITLE));
    m_ui->marginsBox->setTitle(str(ids::PRINT_MARGINS));
    m_ui->marginsBox->setAccessibleName(str(ids::PRINT_MARGINS));
    const struct {
        QLabel* label;
        QWidget* control;
        int text;
    } labelled[] = {
        {m_ui->leftLabel, m_ui->left_1028, ids::PRINT_LEFT},
        {m_ui->topLabel, m_ui->top_1004, ids::PRINT_TOP},
        {m_ui->rightLabel, m_ui->right_1029, ids::PRINT_RIGHT},
        {m_ui->bottomLabel, m_ui->bottom_1005, ids::PRINT_BOTTOM},
        {m_ui->fontLabel, m_ui->fontName_1047, ids::PRINT_FONT},
    };
    for (const auto& l : labelled) {
        l.label->setText(str(l.text));
        l.control->setAccessibleName(str(l.text));
    }
    const struct {
        QAbstractButton* button;
        int text;
    } buttons[] = {
        {m_ui->scaleGrid_1039, ids::PRINT_SCALE_GRID},
        {m_ui->changeWidth_1040, ids::PRINT_CHANGE_WIDTH},
        {m_ui->optimalWidth_1042, ids::PRINT_OPTIMAL_WIDTH},
        {m_ui->stretch_1076, ids::PRINT_STRETCH},
        {m_ui->colored_1140, ids::PRINT_COLORED},
        {m_ui->fontButton_1007, ids::PRINT_FONT_BUTTON},
        {m_ui->printerSetup_1006, ids::PRINT_PRINTER_SETUP},
    };
    for (const auto& b : buttons) {
        b.button->setText(str(b.text));
        b.button->setAccessibleName(str(b.text));
    }
    m_ui->fontButton_1007->setAccessibleName(str(ids::PRINT_FONT));
    m_ui->fitWidth_1141->setTitle(str(ids::PRINT_FIT_WIDTH));
    m_ui->fitWidth_1141->setAccessibleName(str(ids::PRINT_FIT_WIDTH).trimmed());
    m_ui->buttonBox->setAccessibleName(str(ids::PRINT_SETUP_TITLE));

    m_ui->left_1028->setText(QString::number(settings.marginLeft));
    m_ui->top_1004->setText(QString::number(settings.marginTop));
    m_ui->right_1029->setText(QString::number(settings.marginRight));
    m_ui->bottom_1005->setText(QString::number(settings.marginBottom));
    m_ui->fontName_1047->setText(settings.fontName);
    m_ui->fitWidth_1141->setChecked(settings.fitWidth);
    m_ui->scaleGrid_1039->setChecked(settings.fitMethod == FitMethod::ScaleWholeGrid);
    m_ui->changeWidth_1040->setChecked(settings.fitMethod == FitMethod::ChangeColumnWidth);
    m_ui->optimalWidth_1042->setChecked(settings.optimalWidth);
    m_ui->stretch_1076->setChecked(settings.stretchLongLines);
    m_ui->colored_1140->setChecked(settings.colored);

    connect(m_ui->fontButton_1007, &QPushButton::clicked, this, &d_PrinterSetup::chooseFont);
    connect(m_ui->printerSetup_1006, &QPushButton::clicked, this,
            [this] { (void)m_choosers.printerSetup(m_printer, this); });
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &d_PrinterSetup::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &d_PrinterSetup::reject);
}

d_PrinterSetup::~d_PrinterSetup() = default;

void d_PrinterSetup::chooseFont() {
    // The face typed so far is where the font dialog starts.
    m_fontName = m_ui->fontName_1047->text();
    if (const auto face = m_choosers.fontFace(m_fontName, this)) {
        m_fontName = *face;
    }
    m_ui->fontName_1047->setText(m_fontName);
}

void d_PrinterSetup::accept() {
    m_settings.marginLeft = marginFromText(m_ui->left_1028->text());
    m_settings.marginTop = marginFromText(m_ui->top_1004->text());
    m_settings.marginRight = marginFromText(m_ui->right_1029->text());
    m_settings.marginBottom = marginFromText(m_ui->bottom_1005->text());
    m_settings.fontName = m_ui->fontName_1047->text().trimmed();
    m_settings.fitWidth = m_ui->fitWidth_1141->isChecked();
    m_settings.fitMethod = m_ui->scaleGrid_1039->isChecked() ? FitMethod::ScaleWholeGrid
                                                             : FitMethod::ChangeColumnWidth;
    m_settings.optimalWidth = m_ui->optimalWidth_1042->isChecked();
    m_settings.stretchLongLines = m_ui->stretch_1076->isChecked();
    m_settings.colored = m_ui->colored_1140->isChecked();
    QDialog::accept();
}

}  // namespace pw::print
