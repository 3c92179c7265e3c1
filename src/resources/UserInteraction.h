#pragma once
// The one way logic code talks to the user: message boxes and progress displays.
// The application plugs in the Qt implementation; tests plug in a scripted responder,
// so that every piece of logic runs headless.

#include <QString>
#include <memory>

namespace pw {

// The four kinds of message box, each with its preselected button.
enum class MessageKind {
    Information,           // OK
    YesNo,                 // Yes / No, No preselected
    YesNoCancel,           // Yes / No / Cancel, Yes preselected
    YesNoCancelDefaultNo,  // Yes / No / Cancel, No preselected
};

enum class Answer { Ok, Yes, No, Cancel };

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
};

class IUserInteraction {
public:
    virtual ~IUserInteraction() = default;

    [[nodiscard]] virtual Answer message(const QString& caption, const QString& text,
                                         MessageKind kind) = 0;

    // A new progress display, hidden until shown; destroyed with the returned object.
    [[nodiscard]] virtual std::unique_ptr<IProgress> createProgress() = 0;
};

// Shorthands for the common case: caption is the product name.
Answer inform(IUserInteraction& ui, const QString& text);
[[nodiscard]] Answer ask(IUserInteraction& ui, const QString& text, MessageKind kind);

}  // namespace pw
