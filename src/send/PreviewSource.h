#pragma once
// The preview's messages made by the message assembly of the send run itself, so that the
// preview shows what the run would send to each recipient.

#include <memory>

#include "compose/MailPreview.h"
#include "send/MessageAssembly.h"

namespace pw::send {

class CSendFlow;

class CAssemblyPreviewSource : public IPreviewSource {
public:
    // merge: one message per row (no rows: one message with every placeholder emptied);
    // otherwise the single mail of the texts as typed.
    CAssemblyPreviewSource(std::unique_ptr<CMessageAssembly> assembly, SendMode mode);

    [[nodiscard]] int count() const override;
    [[nodiscard]] PreviewMessage message(int index) override;
    // Placeholders that match no field, and recipients whose mail leaves its charset.
    [[nodiscard]] QStringList notices() const override;

private:
    std::unique_ptr<CMessageAssembly> m_assembly;
    SendMode m_mode;
    bool m_empty = false;
};

// The preview of what a send of the flow's mail would send: the flow is checked and its
// selection loaded in `selection` mode, as the Send command would.
[[nodiscard]] std::unique_ptr<IPreviewSource> previewOfSend(CSendFlow& flow,
                                                            db::SendSelectionMode selection);

// The texts of a message as they read on the other side of its charset.
[[nodiscard]] PreviewMessage describeForPreview(const smtp::CKTWSMTPMessage& message);

}  // namespace pw::send
