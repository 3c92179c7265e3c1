#include "app/gui/SuppressionWindows.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>

#include "exchange/AddressListImport.h"
#include "resources/Strings.h"
#include "send/SendRules.h"
#include "ui_d_SuppressionList.h"
#include "ui_d_Unsubscribe.h"

namespace pw::app {

namespace {

template <typename W>
void label(W* widget, int text) {
    widget->setText(str(text));
    widget->setAccessibleName(str(text));
}

}  // namespace

d_SuppressionList::d_SuppressionList(db::CSuppressionList list, IUserInteraction& ui,
                                     QWidget* parent)
    : QDialog(parent),
      m_form(std::make_unique<Ui::d_SuppressionList>()),
      m_ui(ui),
      m_list(std::move(list)),
      m_model(std::make_unique<dbtools::SuppressionListModel>(m_list, ui)) {
    m_form->setupUi(this);
    setWindowTitle(str(ids::kSuppressionCaption));
    label(m_form->searchLabel, ids::kSuppSearchLabel);
    m_form->searchField->setAccessibleName(m_form->searchLabel->accessibleName());
    label(m_form->addButton, ids::kSuppAdd);
    label(m_form->importButton, ids::kSuppImport);
    label(m_form->removeButton, ids::kSuppRemove);
    label(m_form->exportButton, ids::kSuppExport);
    label(m_form->closeButton, ids::kSuppClose);
    m_form->entries->setAccessibleName(str(ids::kSuppTable));
    m_form->countLabel->setAccessibleName(str(ids::kSuppTable));
    m_form->entries->setModel(m_model.get());
    m_form->entries->horizontalHeader()->setStretchLastSection(true);
    connect(m_form->searchField, &QLineEdit::textChanged, this, [this](const QString& t) {
        m_model->setSearch(t);
        updateCount();
    });
    connect(m_form->addButton, &QPushButton::clicked, this, &d_SuppressionList::addByHand);
    connect(m_form->importButton, &QPushButton::clicked, this, &d_SuppressionList::importFile);
    connect(m_form->removeButton, &QPushButton::clicked, this, &d_SuppressionList::removeSelected);
    connect(m_form->exportButton, &QPushButton::clicked, this, &d_SuppressionList::exportShown);
    connect(m_form->closeButton, &QPushButton::clicked, this, &QDialog::accept);
    m_model->reload();
    updateCount();
}

d_SuppressionList::~d_SuppressionList() = default;

void d_SuppressionList::updateCount() {
    m_form->countLabel->setText(send::formatMessageText(
        str(ids::kSuppCount),
        {QString::number(m_model->rowCount()), QString::number(m_model->totalCount())}));
}

void d_SuppressionList::addByHand() {
    TextRequest address;
    address.caption = str(ids::kSuppressionCaption);
    address.label = str(ids::kSuppAddressLabel);
    const std::optional<QString> typed = m_ui.askText(address);
    if (!typed || typed->trimmed().isEmpty())
        return;
    TextRequest reason;
    reason.caption = str(ids::kSuppressionCaption);
    reason.label = str(ids::kSuppressionReasonLabel);
    reason.text = str(ids::kSuppressionReasonDefault);
    const std::optional<QString> why = m_ui.askText(reason);
    if (!why)
        return;
    (void)dbtools::AddAddressesToSuppressionList(m_list, m_ui, {*typed}, *why);
    m_model->reload();
    updateCount();
}

void d_SuppressionList::importFile() {
    FileRequest request;
    request.mode = FileChoice::OpenFile;
    request.caption = str(ids::kSuppImport).remove(QStringLiteral("..."));
    request.filters = str(ids::kSuppImportFilter);
    const QStringList files = m_ui.chooseFiles(request);
    if (files.isEmpty())
        return;
    const exchange::AddressListRead read = exchange::readAddressList(files.first(), m_ui);
    if (!read.ok)
        return;
    (void)dbtools::AddAddressesToSuppressionList(
        m_list, m_ui, read.addresses,
        send::formatMessageText(str(ids::kSuppImportReason),
                                {QFileInfo(files.first()).fileName()}));
    m_model->reload();
    updateCount();
}

void d_SuppressionList::removeSelected() {
    QList<int> rows;
    for (const QModelIndex& i : m_form->entries->selectionModel()->selectedRows())
        rows.append(i.row());
    if (rows.isEmpty() && m_form->entries->currentIndex().isValid())
        rows.append(m_form->entries->currentIndex().row());
    (void)m_model->removeRows(rows);
    updateCount();
}

void d_SuppressionList::exportShown() {
    FileRequest request;
    request.mode = FileChoice::SaveFile;
    request.caption = str(ids::kSuppExport).remove(QStringLiteral("..."));
    request.filters = str(ids::kSuppExportFilter);
    request.defaultSuffix = QStringLiteral("csv");
    const QStringList files = m_ui.chooseFiles(request);
    if (!files.isEmpty())
        (void)m_model->exportTo(files.first());
}

d_Unsubscribe::d_Unsubscribe(db::TDbData& store, IUserInteraction& ui, QWidget* parent)
    : QDialog(parent), m_form(std::make_unique<Ui::d_Unsubscribe>()), m_store(store), m_ui(ui) {
    m_form->setupUi(this);
    setWindowTitle(str(ids::kUnsubCaption));
    label(m_form->mailLabel, ids::kUnsubMailLabel);
    label(m_form->urlLabel, ids::kUnsubUrlLabel);
    label(m_form->listLabel, ids::kUnsubListLabel);
    label(m_form->footerOn, ids::kUnsubFooterOn);
    label(m_form->footerTextLabel, ids::kUnsubFooterTextLabel);
    label(m_form->footerHtmlLabel, ids::kUnsubFooterHtmlLabel);
    label(m_form->defaultsButton, ids::kUnsubDefaults);
    // the address field by its caption in this database, whatever that is
    const QString hint =
        str(ids::kUnsubHint).arg("[[" + store.FieldCaptions().Captions()[0] + "]]");
    m_form->hint->setText(hint);
    m_form->hint->setAccessibleName(hint);
    m_form->mailAddress->setAccessibleName(m_form->mailLabel->accessibleName());
    m_form->url->setAccessibleName(m_form->urlLabel->accessibleName());
    m_form->listName->setAccessibleName(m_form->listLabel->accessibleName());
    m_form->footerText->setAccessibleName(m_form->footerTextLabel->accessibleName());
    m_form->footerHtml->setAccessibleName(m_form->footerHtmlLabel->accessibleName());
    m_form->buttons->setAccessibleName(str(ids::kUnsubCaption));

    const send::UnsubscribeSettings s = send::loadUnsubscribeSettings(store);
    m_form->mailAddress->setText(s.mailAddress);
    m_form->url->setText(s.url);
    m_form->listName->setText(s.listName);
    m_form->footerOn->setChecked(s.footer == send::FooterChoice::On);
    const Language language = currentLanguage();
    m_form->footerText->setPlainText(s.footerText.isEmpty() ? defaultText(language) : s.footerText);
    m_form->footerHtml->setPlainText(s.footerHtml.isEmpty() ? defaultHtml(language) : s.footerHtml);
    connect(m_form->defaultsButton, &QPushButton::clicked, this, [this] {
        m_form->footerText->setPlainText(defaultText(currentLanguage()));
        m_form->footerHtml->setPlainText(defaultHtml(currentLanguage()));
    });
    connect(m_form->buttons, &QDialogButtonBox::accepted, this, &d_Unsubscribe::accept);
    connect(m_form->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

d_Unsubscribe::~d_Unsubscribe() = default;

QString d_Unsubscribe::defaultText(Language language) const {
    return send::withAddressPlaceholder(send::defaultFooterText(language),
                                        m_store.FieldCaptions().Captions());
}

QString d_Unsubscribe::defaultHtml(Language language) const {
    return send::withAddressPlaceholder(send::defaultFooterHtml(language),
                                        m_store.FieldCaptions().Captions());
}

send::UnsubscribeSettings d_Unsubscribe::settings() const {
    send::UnsubscribeSettings s;
    s.mailAddress = m_form->mailAddress->text().trimmed();
    s.url = m_form->url->text().trimmed();
    s.listName = m_form->listName->text().trimmed();
    s.footer = m_form->footerOn->isChecked() ? send::FooterChoice::On : send::FooterChoice::Off;
    const Language language = currentLanguage();
    // the defaults are not stored: another language's user then sees their own
    const QString text = m_form->footerText->toPlainText();
    const QString html = m_form->footerHtml->toPlainText();
    s.footerText = text == defaultText(language) ? QString() : text;
    s.footerHtml = html == defaultHtml(language) ? QString() : html;
    return s;
}

void d_Unsubscribe::accept() {
    const send::UnsubscribeSettings s = settings();
    if (s == send::loadUnsubscribeSettings(m_store)) {
        QDialog::accept();
        return;
    }
    const send::UnsubscribeCheck check = send::saveUnsubscribeSettings(m_store, s);
    if (check != send::UnsubscribeCheck::Ok) {
        inform(m_ui, send::unsubscribeCheckMessage(check));
        return;
    }
    QDialog::accept();
}

}  // namespace pw::app
