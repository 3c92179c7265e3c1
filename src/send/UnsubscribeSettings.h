#pragma once
// The project's unsubscribe settings as a run takes them (see send/Unsubscribe.h).

#include <QString>

namespace pw::send {

enum class FooterChoice { Off, On };

struct UnsubscribeSettings {
    QString mailAddress;  // "leave@example.com" or "leave+[[Mail Address]]@example.com"
    QString url;          // "https://example.com/u?e=[[Mail Address]]"
    QString listName;     // not empty: a List-Id header
    FooterChoice footer = FooterChoice::Off;
    QString footerText;  // empty: the default of the language
    QString footerHtml;

    [[nodiscard]] bool headersWanted() const { return !mailAddress.isEmpty() || !url.isEmpty(); }
    friend bool operator==(const UnsubscribeSettings&, const UnsubscribeSettings&) = default;
};

}  // namespace pw::send
