#pragma once
// "Import DataBase..." from the file choice to the stored records, without its windows: the
// windows (delimiter, worksheet, "Select Data to Import", "DataBase Contents") are behind
// IImportWindows and only show the flow's state and pass the user's clicks in.

#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QString>
#include <memory>
#include <optional>

#include "exchange/ImportStore.h"

namespace pw::exchange {

class ImportFlow;

class IImportWindows {
public:
    virtual ~IImportWindows() = default;
    // "Data Format": nothing for Cancel (the comma is kept).
    [[nodiscard]] virtual std::optional<Delimiter> chooseDelimiter() = 0;
    // "Import from Excel": nothing for Cancel (the active sheet is taken).
    [[nodiscard]] virtual std::optional<int> chooseWorksheet(const QStringList& names,
                                                             int activeSheet) = 0;
    // "Select Data to Import" (and from its OK "DataBase Contents"), modally over the flow.
    virtual void selectData(ImportFlow& flow) = 0;
};

struct ImportSettings {
    AutoGrouping grouping;
    bool openDatabaseAfterImport = true;  // "OpenDatabaseAfterImport" is nonzero
    LegacyCodePage legacy = LegacyCodePage::Windows1252;
    // "ImportDatesIso": workbook dates as 2024-03-15 rather than in the system's short form
    WorkbookDateForm dateForm = WorkbookDateForm::LocaleShort;
};

// The items of "Select Data to Import": one check box per field of row 0.
class ImportItemsModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ImportItemsModel(ImportSession& session, QObject* parent = nullptr);
    // The session's table or selection changed.
    void reset();

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    ImportSession& m_session;
};

// The preview of "DataBase Contents": one column per heading, one line per data row.
class ImportPreviewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role { SelectedColumnRole = Qt::UserRole + 1 };
    explicit ImportPreviewModel(ImportSession& session, QObject* parent = nullptr);

    void reset();
    // A click selects the cell's column (drawn highlighted).
    void clickCell(int line, int column);
    [[nodiscard]] int selectedColumn() const { return m_selected; }
    // "Move To Right" / "Move To Left" with the selected column.
    void move(MoveDirection direction);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    ImportSession& m_session;
    int m_selected = -1;
    int m_selectedLine = -1;
};

class ImportFlow {
public:
    ImportFlow(db::TDbData& store, IUserInteraction& ui, ImportSettings settings);

    // Reads the file (the reader's messages are told), and when it holds rows runs the
    // windows. progress is the command's progress window (may be null).
    void run(const QString& path, IImportWindows& windows, IProgress* progress);

    [[nodiscard]] ImportSession& session() { return m_session; }
    [[nodiscard]] const ReadResult& readResult() const { return m_read; }
    [[nodiscard]] bool isTextFile() const { return m_text; }
    // The encoding the text was read with, as the window shows it ("... (detected)").
    [[nodiscard]] QString encodingText() const;
    [[nodiscard]] TextEncoding encoding() const { return m_encoding; }
    // The encoding the first reading detected.
    [[nodiscard]] const QString& detectedEncoding() const { return m_detected; }
    // Reads the text file again with another encoding; the selection starts afresh. False
    // (after the message) when that reading fails; the table is then empty.
    bool reread(TextEncoding encoding);
    // The smallest and largest field count of the rows, when they differ.
    [[nodiscard]] std::optional<std::pair<int, int>> fieldCountRange() const;

    // OK of "Select Data to Import".
    [[nodiscard]] SelectionVerdict acceptSelection();
    // Showing "DataBase Contents" (with its messages).
    PreviewResult preparePreview(SteppedProgress& progress);
    // OK of "DataBase Contents", first: when the column bound for the mail-address field
    // holds no address while another does, asks to move that one there (Yes moves it, No
    // stores as it is). False for Cancel: the dialog stays.
    [[nodiscard]] bool confirmAddressColumn();
    // OK of "DataBase Contents".
    StoreResult storeRows(bool openDatabaseChecked);

    [[nodiscard]] bool openDatabaseAfterImport() const {
        return m_settings.openDatabaseAfterImport;
    }
    // What the command does once the windows are closed; nothing when nothing was stored.
    [[nodiscard]] const std::optional<AfterImport>& after() const { return m_after; }
    [[nodiscard]] const std::optional<StoreResult>& stored() const { return m_stored; }

private:
    ReadResult read(TextEncoding encoding, IImportWindows* windows);

    db::TDbData& m_store;
    IUserInteraction& m_ui;
    ImportSettings m_settings;
    ImportSession m_session;
    QString m_path;
    bool m_text = false;
    Delimiter m_delimiter = Delimiter::Comma;
    TextEncoding m_encoding = TextEncoding::Detect;
    ReadResult m_read;
    QString m_detected;
    IProgress* m_progress = nullptr;
    std::optional<AfterImport> m_after;
    std::optional<StoreResult> m_stored;
};

// A filter of the string table ("CSV File(*.csv)|*.csv|...||") as a chooser's filter list
// ("CSV File (*.csv);;...").
[[nodiscard]] QString chooserFilter(const QString& tableFilter);

// The main window's "Import DataBase...": the file choice, then the flow. Returns the flow
// for the caller to act on after() (nothing when no file was chosen).
std::unique_ptr<ImportFlow> runImportCommand(db::TDbData& store, IUserInteraction& ui,
                                             const ImportSettings& settings,
                                             IImportWindows& windows);

}  // namespace pw::exchange
