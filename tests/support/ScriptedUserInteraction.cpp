#include "ScriptedUserInteraction.h"

namespace pw::test {

class ScriptedProgress : public IProgress {
public:
    explicit ScriptedProgress(ScriptedUserInteraction& owner) : m_owner(owner) {}
    void setCaption(const QString& c) override { log("caption: " + c); }
    void setText(const QString& t) override { log("text: " + t); }
    void setRange(int a, int b) override { log(QStringLiteral("range: %1..%2").arg(a).arg(b)); }
    void setPosition(int p) override {
        log(QStringLiteral("position: %1").arg(p));
        if (m_cancellable && !m_cancelled && m_owner.m_cancelAt >= 0 && p >= m_owner.m_cancelAt) {
            m_cancelled = true;
            log(QStringLiteral("cancelled"));
            if (m_onCancel)
                m_onCancel();
        }
    }
    void show() override { log(QStringLiteral("show")); }
    void hide() override { log(QStringLiteral("hide")); }
    void setCancellable(std::function<void()> onCancel) override {
        m_cancellable = true;
        m_onCancel = std::move(onCancel);
        log(QStringLiteral("cancellable"));
    }
    bool cancelRequested() override { return m_cancelled; }

private:
    void log(const QString& line) { m_owner.m_progressLog.append(line); }
    ScriptedUserInteraction& m_owner;
    bool m_cancellable = false;
    bool m_cancelled = false;
    std::function<void()> m_onCancel;
};

Answer ScriptedUserInteraction::message(const QString& caption, const QString& text,
                                        MessageKind kind) {
    m_asked.append({caption, text, kind});
    if (!m_answers.empty()) {
        const Answer a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    switch (kind) {
        case MessageKind::Information:
        case MessageKind::OkCancel:
            return Answer::Ok;
        case MessageKind::YesNo:
            return Answer::No;
        case MessageKind::YesNoCancel:
            return Answer::Yes;
        case MessageKind::YesNoCancelDefaultNo:
            return Answer::No;
    }
    return Answer::Cancel;
}

int ScriptedUserInteraction::choose(const ChoiceRequest& request) {
    m_choicesAsked.append(request);
    // the text is kept with the messages too, so that askedTexts() tells the whole dialogue
    m_asked.append({request.caption, request.text, MessageKind::Information});
    if (!m_choices.empty()) {
        const QString button = m_choices.front();
        m_choices.pop_front();
        const int index = static_cast<int>(request.buttons.indexOf(button));
        if (index >= 0)
            return index;
        qWarning("scripted button \"%s\" is not offered", qPrintable(button));
        return escapeIndex(request);
    }
    return request.defaultButton;
}

std::optional<QString> ScriptedUserInteraction::askText(const TextRequest& request) {
    m_textsAsked.append(request);
    if (m_texts.empty())
        return std::nullopt;
    const TextAnswer a = m_texts.front();
    m_texts.pop_front();
    if (!a.given)
        return std::nullopt;
    return a.text;
}

QStringList ScriptedUserInteraction::chooseFiles(const FileRequest& request) {
    m_filesAsked.append(request);
    if (m_files.empty())
        return {};
    QStringList answer = m_files.front();
    m_files.pop_front();
    return answer;
}

std::unique_ptr<IProgress> ScriptedUserInteraction::createProgress() {
    return std::make_unique<ScriptedProgress>(*this);
}

QStringList ScriptedUserInteraction::askedTexts() const {
    QStringList out;
    for (const AskedMessage& m : m_asked)
        out.append(m.text);
    return out;
}

}  // namespace pw::test
