#pragma once
// The one way logic code talks to the user: message boxes, file choices and progress displays.
// The application plugs in the Qt implementation; tests plug in a scripted responder,
// so that every piece of logic runs headless.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace pw {

// The kinds of message box, each with its preselected button.
enum class MessageKind {
    Information,           // OK
    YesNo,                 // Yes / No, No preselected
    YesNoCancel,           // Yes / No / Cancel, Yes preselected
    YesNoCancelDefaultNo,  // Yes / No / Cancel, No preselected
    OkCancel,              // OK / Cancel, OK preselected
};

enum class Answer { Ok, Yes, No, Cancel };

// The icon a box with buttons of its own carries.
enum class ChoiceIcon { Information, Question, Warning, Critical };

// A box whose buttons carry captions of their own ("View Log", "Retry", ...).
struct ChoiceRequest {
    QString caption;
    QString text;
    QStringList buttons;    // left to right
    int defaultButton = 0;  // pressed by Enter
    int escapeButton = -1;  // the answer to Esc or closing the box; -1: the last button
    ChoiceIcon icon = ChoiceIcon::Information;
};

// One finding of a report: how it came out, what was found and what to do about it.
enum class ReportLevel { Pass, Warning, Problem };
struct ReportItem {
    ReportLevel level = ReportLevel::Pass;
    QString title;
    QString text;
    QString action;  // empty: nothing to do
};
// A list of findings above buttons of their own captions (those of `choice`, whose text
// stands above the list).
struct ReportRequest {
    ChoiceRequest choice;
    QList<ReportItem> items;
};

enum class FileChoice {
    OpenFile,   // one existing file
    OpenFiles,  // one or more existing files
    SaveFile,   // a file to write (the chooser asks before replacing)
    Folder,     // an existing folder
};

// What a chooser shows of the file under the cursor.
enum class FilePreview {
    None,
    Picture,  // the picture and its size beside the list
};

struct FileRequest {
    FileChoice mode = FileChoice::OpenFile;
    QString caption;
    QString directory;      // where the chooser starts; may name a file to preselect
    QString filters;        // Qt filter list: "CSV files (*.csv);;All files (*)"
    QString defaultSuffix;  // added to a saved name typed without one ("pzy")
    FilePreview preview = FilePreview::None;
};

// One line of text to type (a reason, a name).
struct TextRequest {
    QString caption;
    QString label;
    QString text;  // what the field starts with
};

// A small modeless progress display: a caption, one line of text and a bar.
class IProgress {
public:
    virtual ~IProgress() = default;
    virtual void setCaption(const QString& caption) = 0;
    virtual void setText(const QString& text) = 0;
    virtual void setRange(int minimum, int maximum) = 0;
    virtual void setPosition(int position) = 0;
    virtual void show() = 0;
    virtual void hide() = 0;

    // Offers a Cancel button. Work running on the interface thread polls cancelRequested()
    // between its steps; work on another thread is told through onCancel, which runs on the
    // interface thread at the moment the user cancels. A request stays set once made.
    virtual void setCancellable(std::function<void()> onCancel = {}) { (void)onCancel; }
    [[nodiscard]] virtual bool cancelRequested() { return false; }
};

// A progress display that shows nothing (runs without a window: the command line, benchmarks).
class SilentProgress : public IProgress {
public:
    void setCaption(const QString&) override {}
    void setText(const QString&) override {}
    void setRange(int, int) override {}
    void setPosition(int) override {}
    void show() override {}
    void hide() override {}
};

class IUserInteraction {
public:
    virtual ~IUserInteraction() = default;

    [[nodiscard]] virtual Answer message(const QString& caption, const QString& text,
                                         MessageKind kind) = 0;

    // A box with buttons of its own captions; returns the index of the button pressed.
    // A front end with nobody to ask answers with the escape button.
    [[nodiscard]] virtual int choose(const ChoiceRequest& request) { return escapeIndex(request); }

    // A report of findings with buttons; returns the index of the button pressed. Without a
    // list of its own, a front end shows the findings as the text of choose().
    [[nodiscard]] virtual int showReport(const ReportRequest& request);

    // The chosen paths (one for every mode but OpenFiles); empty when the user cancelled.
    // A front end with nobody to ask chooses nothing.
    [[nodiscard]] virtual QStringList chooseFiles(const FileRequest& request) {
        (void)request;
        return {};
    }

    // The typed text; nothing when the user cancelled. A front end with nobody to ask
    // answers nothing.
    [[nodiscard]] virtual std::optional<QString> askText(const TextRequest& request) {
        (void)request;
        return std::nullopt;
    }

    // Opens a web address in the desktop's browser (a sign-in page); false when nothing
    // could open it. A front end without a desktop opens nothing.
    [[nodiscard]] virtual bool openUrl(const QString& url) {
        (void)url;
        return false;
    }

    // A new progress display, hidden until shown; destroyed with the returned object.
    [[nodiscard]] virtual std::unique_ptr<IProgress> createProgress() = 0;

    [[nodiscard]] static int escapeIndex(const ChoiceRequest& request) {
        if (request.escapeButton >= 0 && request.escapeButton < request.buttons.size())
            return request.escapeButton;
        return static_cast<int>(request.buttons.size()) - 1;
    }
};

// Shorthands for the common case: caption is the product name.
Answer inform(IUserInteraction& ui, const QString& text);
[[nodiscard]] Answer ask(IUserInteraction& ui, const QString& text, MessageKind kind);

}  // namespace pw
