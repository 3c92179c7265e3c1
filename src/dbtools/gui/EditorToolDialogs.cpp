#include "dbtools/gui/EditorToolDialogs.h"

#include <QColor>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>

#include "resources/Strings.h"
#include "ui_d_AddGroup.h"
#include "ui_d_AutoGroup.h"
#include "ui_d_FindAndReplace.h"
#include "ui_d_FindDuplicates.h"

namespace pw::dbtools {

namespace {

void name(QWidget* w, const QString& text) {
    w->setAccessibleName(text);
}

// The duplicate list's shades as background colours.
class DuplicateColours : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::BackgroundRole)
            return QIdentityProxyModel::data(index, role);
        switch (DuplicateListModel::Shade(index.data(DuplicateListModel::ShadeRole).toInt())) {
            case DuplicateListModel::Shade::Marked:
                return QColor(100, 100, 140);
            case DuplicateListModel::Shade::FirstRun:
                return QColor(0, 255, 0);
            case DuplicateListModel::Shade::SecondRun:
                return QColor(255, 255, 0);
            case DuplicateListModel::Shade::None:
                break;
        }
        return {};
    }
};

}  // namespace

// ---- Find Duplicate Data ------------------------------------------------------------------------

d_FindDuplicates::d_FindDuplicates(DuplicateListModel& model, QWidget* parent)
    : QDialog(parent),
      m_model(model),
      m_ui(std::make_unique<Ui::d_FindDuplicates>()),
      m_colours(std::make_unique<DuplicateColours>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kCmdFindDuplicates));
    QTableView* list = m_ui->list1043;
    m_colours->setSourceModel(&m_model);
    list->setModel(m_colours.get());
    name(list, str(ids::kDuplicateList));
    list->horizontalHeader()->setDefaultSectionSize(60);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ui->deleteButton->setText(str(ids::kEditorButtonDelete));
    name(m_ui->deleteButton, m_ui->deleteButton->text());
    m_ui->cancelButton->setText(str(ids::kCancel));
    name(m_ui->cancelButton, m_ui->cancelButton->text());
    connect(list, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& i) { m_model.clickCell(i.row(), i.column()); });
    connect(m_ui->deleteButton, &QPushButton::clicked, this, [this] {
        const int scroll = m_ui->list1043->verticalScrollBar()->value();
        m_model.deleteMarked();
        m_ui->list1043->verticalScrollBar()->setValue(scroll);
    });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

d_FindDuplicates::~d_FindDuplicates() {
    m_ui->list1043->setModel(nullptr);
}

// ---- Find and Replace ---------------------------------------------------------------------------

d_FindAndReplace::d_FindAndReplace(EditorSession& session, QWidget* parent)
    : QDialog(parent), m_logic(session), m_ui(std::make_unique<Ui::d_FindAndReplace>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kFindReplaceTitle));
    m_ui->findLabel->setText(str(ids::kFindLabel));
    m_ui->findLabel->setBuddy(m_ui->find1004);
    name(m_ui->find1004, str(ids::kFindLabel));
    m_ui->replaceLabel->setText(str(ids::kReplaceWithLabel));
    m_ui->replaceLabel->setBuddy(m_ui->replace1005);
    name(m_ui->replace1005, str(ids::kReplaceWithLabel));
    const std::pair<QPushButton*, int> buttons[] = {{m_ui->findNext1006, ids::kFindNext},
                                                    {m_ui->replace1007, ids::kReplace},
                                                    {m_ui->replaceAll1030, ids::kFindReplaceAll},
                                                    {m_ui->doneButton, ids::kDone}};
    for (const auto& [button, text] : buttons) {
        button->setText(str(text));
        name(button, str(text));
    }
    m_ui->find1004->setMaxLength(std::max(1, session.store().StringFieldLength()));
    m_ui->replace1005->setMaxLength(std::max(1, session.store().StringFieldLength()));
    connect(m_ui->findNext1006, &QPushButton::clicked, this, [this] {
        takeTexts();
        m_logic.findNext();
        m_ui->replace1007->setEnabled(m_logic.replaceEnabled());
    });
    connect(m_ui->replace1007, &QPushButton::clicked, this, [this] {
        takeTexts();
        m_logic.replace();
    });
    connect(m_ui->replaceAll1030, &QPushButton::clicked, this, [this] {
        takeTexts();
        m_logic.replaceAll();
    });
    connect(m_ui->doneButton, &QPushButton::clicked, this, &QDialog::accept);
}

d_FindAndReplace::~d_FindAndReplace() = default;

void d_FindAndReplace::takeTexts() {
    m_logic.setFindText(m_ui->find1004->text());
    m_logic.setReplaceText(m_ui->replace1005->text());
}

// ---- Add Group ----------------------------------------------------------------------------------

d_AddGroup::d_AddGroup(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_AddGroup>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kAddGroupTitle));
    m_ui->nameLabel->setText(str(ids::kGroupNameLabel));
    m_ui->nameLabel->setBuddy(m_ui->groupName);
    name(m_ui->groupName, str(ids::kGroupNameLabel));
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setText(str(ids::kOk));
    m_ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(str(ids::kCancel));
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

d_AddGroup::~d_AddGroup() = default;

std::optional<QString> d_AddGroup::ask() {
    if (exec() != QDialog::Accepted)
        return std::nullopt;
    return m_ui->groupName->text();
}

// ---- Auto Group ---------------------------------------------------------------------------------

d_AutoGroup::d_AutoGroup(const QStringList& captions, const AutoGroupSetting& current,
                         QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::d_AutoGroup>()) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kAutoGroupTitle));
    m_ui->autoGroupOn->setText(str(ids::kAutoGroupOn));
    name(m_ui->autoGroupOn, str(ids::kAutoGroupOn));
    m_ui->fieldLabel->setText(str(ids::kAutoGroupField));
    m_ui->fieldLabel->setBuddy(m_ui->fieldList);
    name(m_ui->fieldList, str(ids::kAutoGroupField));
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setText(str(ids::kOk));
    m_ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(str(ids::kCancel));
    m_ui->fieldList->addItems(captions);
    m_ui->fieldList->setCurrentIndex(0);
    const bool on = current.enabled && current.field >= 0 && current.field < captions.size();
    m_ui->autoGroupOn->setChecked(on);
    if (on)
        m_ui->fieldList->setCurrentIndex(current.field);
    follow(on);
    connect(m_ui->autoGroupOn, &QCheckBox::toggled, this, &d_AutoGroup::follow);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

d_AutoGroup::~d_AutoGroup() = default;

void d_AutoGroup::follow(bool on) {
    m_ui->fieldList->setEnabled(on);
    m_ui->fieldLabel->setEnabled(on);
}

AutoGroupChoice d_AutoGroup::choice() const {
    return {m_ui->autoGroupOn->isChecked(), m_ui->fieldList->currentIndex()};
}

}  // namespace pw::dbtools
