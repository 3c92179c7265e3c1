#pragma once
// The windows of "Import DataBase...": "Data Format", "Import from Excel", "Select Data to
// Import" and "DataBase Contents", thin views over ImportFlow.

#include <QDialog>
#include <memory>

#include "exchange/ImportFlow.h"

namespace Ui {
class d_SelectDelimitForm;
class d_SelectWorksheet;
class d_DatabaseImport;
class d_DataBaseImportContents;
}  // namespace Ui

namespace pw::exchange {

class d_SelectDelimitForm : public QDialog {
    Q_OBJECT
public:
    explicit d_SelectDelimitForm(QWidget* parent = nullptr);
    ~d_SelectDelimitForm() override;
    [[nodiscard]] Delimiter delimiter() const;

private:
    std::unique_ptr<Ui::d_SelectDelimitForm> m_ui;
};

class d_SelectWorksheet : public QDialog {
    Q_OBJECT
public:
    d_SelectWorksheet(const QStringList& names, int activeSheet, QWidget* parent = nullptr);
    ~d_SelectWorksheet() override;
    [[nodiscard]] int sheet() const;

private:
    std::unique_ptr<Ui::d_SelectWorksheet> m_ui;
};

class d_DatabaseImport : public QDialog {
    Q_OBJECT
public:
    d_DatabaseImport(ImportFlow& flow, QWidget* parent = nullptr);
    ~d_DatabaseImport() override;

private:
    void showFileState();
    void onOk();

    ImportFlow& m_flow;
    std::unique_ptr<Ui::d_DatabaseImport> m_ui;
    ImportItemsModel m_items;
};

class d_DataBaseImportContents : public QDialog {
    Q_OBJECT
public:
    d_DataBaseImportContents(ImportFlow& flow, QWidget* parent = nullptr);
    ~d_DataBaseImportContents() override;

    [[nodiscard]] const PreviewResult& preview() const { return m_preview; }

private:
    void fitHeadings();

    ImportFlow& m_flow;
    std::unique_ptr<Ui::d_DataBaseImportContents> m_ui;
    ImportPreviewModel m_model;
    PreviewResult m_preview;
};

// The windows above, made over a parent window.
class QtImportWindows : public IImportWindows {
public:
    explicit QtImportWindows(QWidget* parent) : m_parent(parent) {}
    std::optional<Delimiter> chooseDelimiter() override;
    std::optional<int> chooseWorksheet(const QStringList& names, int activeSheet) override;
    void selectData(ImportFlow& flow) override;

private:
    QWidget* m_parent;
};

}  // namespace pw::exchange
