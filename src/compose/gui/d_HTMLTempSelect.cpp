#include "compose/gui/d_HTMLTempSelect.h"

#include <QDir>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "compose/gui/ColorChooser.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"
#include "ui_d_HTMLTempSelect.h"

namespace pw {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kTemplateRole = Qt::UserRole + 1;
constexpr int kNameRole = Qt::UserRole + 2;

void addChildren(QTreeWidgetItem* parent, const LibraryNode& node) {
    for (const LibraryNode& child : node.children) {
        auto* item = new QTreeWidgetItem(parent, {templateDisplayName(child.name)});
        item->setData(0, kNameRole, child.name);
        item->setData(0, kPathRole, child.path);
        item->setData(0, kTemplateRole, child.isTemplate);
        addChildren(item, child);
    }
}

}  // namespace

d_HTMLTempSelect::d_HTMLTempSelect(ChooserFolders folders, QString currentName,
                                   IUserInteraction& ui, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::d_HTMLTempSelect>()),
      m_folders(std::move(folders)),
      m_current(std::move(currentName)),
      m_interaction(ui) {
    m_ui->setupUi(this);
    setWindowTitle(str(ids::kChooserTitle));
    m_ui->next->setText(str(ids::kButtonNext));
    m_ui->deleteTemplate->setText(str(ids::kButtonDelete));
    m_ui->cancel->setText(str(ids::kButtonCancel));
    nameForAccessibility(m_ui->tree, str(ids::kChooserRoot));
    nameForAccessibility(m_ui->preview, str(ids::kChooserTitle));
    connect(m_ui->next, &QPushButton::clicked, this, &d_HTMLTempSelect::onNext);
    connect(m_ui->deleteTemplate, &QPushButton::clicked, this, &d_HTMLTempSelect::onDelete);
    connect(m_ui->cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->tree, &QTreeWidget::currentItemChanged, this, &d_HTMLTempSelect::onSelection);
    buildTree();
    resize(900, 540);
    m_ui->splitter->setSizes({300, 600});
    if (!m_current.isEmpty()) {
        (void)selectTemplate(m_current);
    }
}

d_HTMLTempSelect::~d_HTMLTempSelect() = default;

void d_HTMLTempSelect::buildTree() {
    m_ui->tree->clear();
    m_library = scanLibraries({m_folders.ownLibrary, m_folders.library});
    auto* root = new QTreeWidgetItem(m_ui->tree, {str(ids::kChooserRoot)});
    root->setData(0, kTemplateRole, false);
    addChildren(root, m_library);
    root->setExpanded(true);
    m_ui->tree->setCurrentItem(root);
    onSelection();
}

bool d_HTMLTempSelect::selectTemplate(const QString& name) {
    // by the folder's name: the tree shows the shipped templates under translated names
    for (QTreeWidgetItemIterator it(m_ui->tree); *it; ++it) {
        QTreeWidgetItem* item = *it;
        if (item->data(0, kTemplateRole).toBool() && item->data(0, kNameRole).toString() == name) {
            m_ui->tree->setCurrentItem(item);
            return true;
        }
    }
    return false;
}

const LibraryNode* d_HTMLTempSelect::selectedTemplate() const {
    const QTreeWidgetItem* item = m_ui->tree->currentItem();
    if (item == nullptr || !item->data(0, kTemplateRole).toBool()) {
        return nullptr;
    }
    const QString path = item->data(0, kPathRole).toString();
    // the node of exactly this folder (names may repeat in different branches)
    std::function<const LibraryNode*(const LibraryNode&)> find =
        [&](const LibraryNode& n) -> const LibraryNode* {
        for (const LibraryNode& c : n.children) {
            if (c.path == path) {
                return &c;
            }
            if (const LibraryNode* f = find(c)) {
                return f;
            }
        }
        return nullptr;
    };
    return find(m_library);
}

void d_HTMLTempSelect::onSelection() {
    const LibraryNode* t = selectedTemplate();
    m_ui->next->setEnabled(t != nullptr);
    m_ui->deleteTemplate->setEnabled(t != nullptr);
    m_ui->preview->navigate(t ? t->path + QStringLiteral("index.html")
                              : QStringLiteral("about:blank"));
}

void d_HTMLTempSelect::onDelete() {
    const LibraryNode* t = selectedTemplate();
    if (t == nullptr) {
        return;
    }
    if (m_interaction.message(
            str(ids::kButtonDelete),
            str(ids::kChooserDeleteQuestion).replace(QLatin1StringView("%1"), t->name),
            MessageKind::YesNo) != Answer::Yes) {
        return;
    }
    const QString path = t->path;
    m_ui->preview->navigate(QStringLiteral("about:blank"));
    if (removeHtmlTemplate({m_folders.ownLibrary, m_folders.library}, *t) ==
        TemplateRemoval::Failed) {
        (void)inform(m_interaction,
                     str(ids::kChooserDeleteFailed).replace(QLatin1StringView("%1"), path));
    }
    buildTree();
}

void d_HTMLTempSelect::onNext() {
    const LibraryNode* t = selectedTemplate();
    if (t == nullptr) {
        return;
    }
    m_name = t->name;
    m_folder = t->path;
    m_pictures = prepareWizardFolder(t->path, t->name, m_current, m_folders.mainPreviewFolder,
                                     m_folders.wizardFolder);
    accept();
}

}  // namespace pw
