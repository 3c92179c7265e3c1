#pragma once
// The windows of the editor's tools: "Find Duplicate Data", "Find and Replace", "Add Group"
// and "Auto Group". Each shows the state of its logic (EditorTools.h) and passes clicks in.

#include <QDialog>
#include <QIdentityProxyModel>
#include <memory>
#include <optional>

#include "dbtools/EditorTools.h"

namespace Ui {
class d_FindDuplicates;
class d_FindAndReplace;
class d_AddGroup;
class d_AutoGroup;
}  // namespace Ui

namespace pw::dbtools {

class d_FindDuplicates : public QDialog {
    Q_OBJECT
public:
    explicit d_FindDuplicates(DuplicateListModel& model, QWidget* parent = nullptr);
    ~d_FindDuplicates() override;

private:
    DuplicateListModel& m_model;
    std::unique_ptr<Ui::d_FindDuplicates> m_ui;
    std::unique_ptr<QIdentityProxyModel> m_colours;  // the model's shades as colours
};

class d_FindAndReplace : public QDialog {
    Q_OBJECT
public:
    explicit d_FindAndReplace(EditorSession& session, QWidget* parent = nullptr);
    ~d_FindAndReplace() override;

    [[nodiscard]] FindReplace& logic() { return m_logic; }

private:
    void takeTexts();
    FindReplace m_logic;
    std::unique_ptr<Ui::d_FindAndReplace> m_ui;
};

class d_AddGroup : public QDialog {
    Q_OBJECT
public:
    explicit d_AddGroup(QWidget* parent = nullptr);
    ~d_AddGroup() override;

    // The name on OK, nothing for Cancel.
    [[nodiscard]] std::optional<QString> ask();

private:
    std::unique_ptr<Ui::d_AddGroup> m_ui;
};

class d_AutoGroup : public QDialog {
    Q_OBJECT
public:
    d_AutoGroup(const QStringList& captions, const AutoGroupSetting& current,
                QWidget* parent = nullptr);
    ~d_AutoGroup() override;

    [[nodiscard]] AutoGroupChoice choice() const;

private:
    void follow(bool on);
    std::unique_ptr<Ui::d_AutoGroup> m_ui;
};

}  // namespace pw::dbtools
