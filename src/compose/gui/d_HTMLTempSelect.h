#pragma once
// "Select HTML Template": the template library (the user's and the shipped) as a tree, a preview of
// the selected template, and Next (into the wizard folder), Delete and Cancel.

#include <QDialog>
#include <QStringList>
#include <memory>

#include "compose/TemplatePlaces.h"

class QTreeWidgetItem;

namespace Ui {
class d_HTMLTempSelect;
}

namespace pw {

class IUserInteraction;

struct ChooserFolders {
    QString library;            // the shipped "HTML TEMPLATE/", only read
    QString mainPreviewFolder;  // ending in '/'
    QString wizardFolder;       // ending in '/'
    QString ownLibrary;         // the user's "HTML TEMPLATE/", listed first
};

class d_HTMLTempSelect : public QDialog {
    Q_OBJECT
public:
    d_HTMLTempSelect(ChooserFolders folders, QString currentName, IUserInteraction& ui,
                     QWidget* parent = nullptr);
    ~d_HTMLTempSelect() override;

    // After OK.
    [[nodiscard]] const QString& templateName() const { return m_name; }
    [[nodiscard]] const QString& templateFolder() const { return m_folder; }
    [[nodiscard]] const QStringList& pictureList() const { return m_pictures; }

    // Selects a template by name; false when the library has none of that name.
    bool selectTemplate(const QString& name);
    void onNext();
    void onDelete();

private:
    void buildTree();
    void onSelection();
    [[nodiscard]] const LibraryNode* selectedTemplate() const;

    std::unique_ptr<Ui::d_HTMLTempSelect> m_ui;
    ChooserFolders m_folders;
    QString m_current;
    IUserInteraction& m_interaction;
    LibraryNode m_library;
    QString m_name;
    QString m_folder;
    QStringList m_pictures;
};

}  // namespace pw
