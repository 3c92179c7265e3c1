#include "exchange/gui/ImportWindows.h"

#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>

#include "resources/Strings.h"
#include "ui_d_DataBaseImportContents.h"
#include "ui_d_DatabaseImport.h"
#include "ui_d_SelectDelimitForm.h"
#include "ui_d_SelectWorksheet.h"

namespace pw::exchange {

namespace {

void okCancel(QDialogButtonBox* box) {
    box->button(QDialogButtonBox::Ok)->setText(str(ids::kOk));
    box->button(QDialogButtonBox::Ok)->setAccessibleName(str(ids::kOk));
    box->button(QDialogButtonBox::Cancel)->setText(str(ids::kCancel));
    box->button(QDialogButtonBox::Cancel)->setAccessibleName(str(ids::kCancel));
}

void label(QAbstractButton* b, int text) {
    b->setText(str(text));
    b->setAccessibleName(str(text));
}

// The clicked cell of the preview in the highlight colours.
class SelectedCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(ImportPreviewModel::SelectedColumnRole).toBool())
            option->state |= QStyle::State_Selected;
        else
            option->state &= ~QStyle::State_Selected;
    }
};

// The status bar's progress bar as a progress display.
class BarProgress : public IProgress {
public:
    explicit BarProgress(QProgressBar* bar) : m_bar(bar) {}
    void setCaption(const QString&) override {}
    void setText(const QString&) override {}
    void setRange(int minimum, int maximum) override { m_bar->setRange(minimum, maximum); }
    void setPosition(int position) override {
        m_bar->setValue(position);
        m_bar->repaint();
    }
    void show() override {}
    void hide() override {}

private:
    QProgressBar* m_bar;
};

}  // namespace

// ---- Data Format ------------------------------------------------------------------------------

d_SelectDelimitForm::d_SelectDelimitForm(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_SelectDelimitForm>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kDataFormatCaption));
    m_ui->formatBox->setTitle(str(ids::kSelectDataFileFormat));
    m_ui->formatBox->setAccessibleName(str(ids::kSelectDataFileFormat));
    label(m_ui->comma, ids::kCommaDelineated);
    label(m_ui->tab, ids::kTabDelineated);
    okCancel(m_ui->buttonBox);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

d_SelectDelimitForm::~d_SelectDelimitForm() = default;

Delimiter d_SelectDelimitForm::delimiter() const {
    return m_ui->tab->isChecked() ? Delimiter::Tab : Delimiter::Comma;
}

// ---- Import from Excel ------------------------------------------------------------------------

d_SelectWorksheet::d_SelectWorksheet(const QStringList& names, int activeSheet, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_SelectWorksheet>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kImportFromExcelCaption));
    m_ui->sheetLabel->setText(str(ids::kSelectWorksheet));
    m_ui->sheetLabel->setBuddy(m_ui->sheets);
    m_ui->sheets->setAccessibleName(str(ids::kSelectWorksheet));
    m_ui->sheets->addItems(names);
    m_ui->sheets->setCurrentIndex(std::clamp(activeSheet, 0, int(names.size()) - 1));
    okCancel(m_ui->buttonBox);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

d_SelectWorksheet::~d_SelectWorksheet() = default;

int d_SelectWorksheet::sheet() const {
    return m_ui->sheets->currentIndex();
}

// ---- Select Data to Import --------------------------------------------------------------------

d_DatabaseImport::d_DatabaseImport(ImportFlow& flow, QWidget* parent)
    : QDialog(parent),
      m_flow(flow),
      m_ui(std::make_unique<Ui::d_DatabaseImport>()),
      m_items(flow.session()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kSelectDataToImportCaption));
    m_ui->list->setModel(&m_items);
    m_ui->list->setAccessibleName(str(ids::kImportItemsList));
    label(m_ui->selectAll, ids::kSelectAll);
    label(m_ui->selectNone, ids::kSelectNone);
    label(m_ui->firstRecord, ids::kUseFirstRecordAsNames);
    m_ui->firstRecord->setChecked(flow.session().firstRecordOption());
    m_ui->status->setText(str(ids::kSelectImportStatus));
    m_ui->encodingLabel->setText(str(ids::kTextEncodingLabel));
    m_ui->encodingLabel->setBuddy(m_ui->encoding);
    m_ui->encoding->setAccessibleName(str(ids::kTextEncodingLabel));
    m_ui->notice->setAccessibleName(str(ids::kFieldCountsDiffer).section(u'(', 0, 0).trimmed());
    okCancel(m_ui->buttonBox);

    connect(m_ui->selectAll, &QPushButton::clicked, this, [this] {
        m_flow.session().selectAll();
        m_items.reset();
    });
    connect(m_ui->selectNone, &QPushButton::clicked, this, [this] {
        m_flow.session().selectNone();
        m_items.reset();
    });
    connect(m_ui->firstRecord, &QCheckBox::toggled, this,
            [this](bool on) { m_flow.session().setFirstRecordOption(on); });
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &d_DatabaseImport::onOk);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    showFileState();
    connect(m_ui->encoding, &QComboBox::activated, this, [this](int item) {
        const TextEncoding chosen = textEncodingChoices().value(item, TextEncoding::Detect);
        m_flow.reread(chosen);
        m_items.reset();
        showFileState();
    });
}

d_DatabaseImport::~d_DatabaseImport() {
    m_ui->list->setModel(nullptr);
}

void d_DatabaseImport::showFileState() {
    const QSignalBlocker block(m_ui->encoding);
    m_ui->encoding->clear();
    const bool text = m_flow.isTextFile();
    m_ui->encoding->setVisible(text);
    m_ui->encodingLabel->setVisible(text);
    if (text) {
        for (TextEncoding e : textEncodingChoices()) {
            m_ui->encoding->addItem(e == TextEncoding::Detect
                                        ? str(ids::kEncodingDetected).arg(m_flow.detectedEncoding())
                                        : textEncodingName(e));
        }
        m_ui->encoding->setCurrentIndex(int(textEncodingChoices().indexOf(m_flow.encoding())));
    }
    const auto range = m_flow.fieldCountRange();
    m_ui->notice->setVisible(range.has_value());
    if (range)
        m_ui->notice->setText(str(ids::kFieldCountsDiffer).arg(range->first).arg(range->second));
}

void d_DatabaseImport::onOk() {
    if (m_flow.acceptSelection() != SelectionVerdict::Accepted)
        return;
    d_DataBaseImportContents contents(m_flow, this);
    contents.exec();
    accept();
}

// ---- DataBase Contents ------------------------------------------------------------------------

d_DataBaseImportContents::d_DataBaseImportContents(ImportFlow& flow, QWidget* parent)
    : QDialog(parent),
      m_flow(flow),
      m_ui(std::make_unique<Ui::d_DataBaseImportContents>()),
      m_model(flow.session()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kDatabaseContentsCaption));
    m_ui->fieldColumns->setTitle(str(ids::kFieldColumns));
    m_ui->fieldColumns->setAccessibleName(str(ids::kFieldColumns));
    label(m_ui->moveRight, ids::kMoveToRight);
    label(m_ui->moveLeft, ids::kMoveToLeft);
    label(m_ui->openAfter, ids::kOpenDatabaseAfterImporting);
    m_ui->openAfter->setChecked(flow.openDatabaseAfterImport());
    m_ui->preview->setAccessibleName(str(ids::kPreviewList));
    m_ui->preview->setItemDelegate(new SelectedCellDelegate(m_ui->preview));
    m_ui->preview->setSelectionMode(QAbstractItemView::NoSelection);
    m_ui->preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ui->preview->horizontalHeader()->setDefaultSectionSize(60);
    m_ui->progress->setAccessibleName(str(ids::kLoadDataCaption));
    m_ui->status->setAccessibleName(str(ids::kDatabaseContentsCaption));
    okCancel(m_ui->buttonBox);

    BarProgress bar(m_ui->progress);
    SteppedProgress progress(&bar);
    m_preview = m_flow.preparePreview(progress);
    progress.finish();
    m_model.reset();
    m_ui->preview->setModel(&m_model);
    fitHeadings();

    connect(m_ui->preview, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& i) { m_model.clickCell(i.row(), i.column()); });
    connect(m_ui->moveRight, &QPushButton::clicked, this, [this] {
        m_model.move(MoveDirection::Right);
        fitHeadings();
    });
    connect(m_ui->moveLeft, &QPushButton::clicked, this, [this] {
        m_model.move(MoveDirection::Left);
        fitHeadings();
    });
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, [this] {
        if (!m_flow.confirmAddressColumn())
            return;
        m_model.reset();
        m_ui->buttonBox->setEnabled(false);
        (void)m_flow.storeRows(m_ui->openAfter->isChecked());
        accept();
    });
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

d_DataBaseImportContents::~d_DataBaseImportContents() {
    m_ui->preview->setModel(nullptr);
}

// Narrow columns keep the preview compact, but never so narrow that a heading is cut: the
// heading is how the user tells the fields apart.
void d_DataBaseImportContents::fitHeadings() {
    QHeaderView* header = m_ui->preview->horizontalHeader();
    for (int c = 0; c < m_model.columnCount(); ++c)
        m_ui->preview->setColumnWidth(
            c, std::max(header->defaultSectionSize(), header->sectionSizeHint(c)));
}

// ---- the windows of the command ---------------------------------------------------------------

std::optional<Delimiter> QtImportWindows::chooseDelimiter() {
    d_SelectDelimitForm dialog(m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.delimiter();
}

std::optional<int> QtImportWindows::chooseWorksheet(const QStringList& names, int activeSheet) {
    d_SelectWorksheet dialog(names, activeSheet, m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.sheet();
}

void QtImportWindows::selectData(ImportFlow& flow) {
    d_DatabaseImport dialog(flow, m_parent);
    dialog.exec();
}

}  // namespace pw::exchange
