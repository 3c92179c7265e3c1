#include "ScriptedUserInteraction.h"

namespace pw::test {

class ScriptedProgress : public IProgress {
public:
    explicit ScriptedProgress(ScriptedUserInteraction& owner) : m_owner(owner) {}
    void setCaption(const QString& c) override { log("caption: " + c); }
    void setText(const QString& t) override { log("text: " + t); }
    void setRange(int a, int b) override { log(QStringLiteral("range: %1..%2").arg(a).arg(b)); }
    void setPosition(int p) override { log(QStringLiteral("position: %1").arg(p)); }
    void show() override { log(QStringLiteral("show")); }
    void hide() override { log(QStringLiteral("hide")); }

private:
    void log(const QString& line) { m_owner.m_progressLog.append(line); }
    ScriptedUserInteraction& m_owner;
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
