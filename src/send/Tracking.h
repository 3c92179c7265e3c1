#pragma once
// The identifier each message of a run carries so that a bounce can be traced to its run and
// recipient: "pw1-" + the run's random number (16 hex digits) + "-" + a keyed hash of the run
// and the address (32 hex digits). The key is the user's own and never leaves the machine, so
// a report made up by someone else cannot name a valid identifier for an address.

#include <QByteArray>
#include <QString>

namespace pw::send {

inline constexpr const char* kTrackingHeader = "X-Postwick-ID";
inline constexpr const char* kTrackingKeyFileName = "tracking.key";

struct RunTracking {
    QByteArray key;  // empty: messages carry no identifier
    QString runId;   // 16 hex digits
};

// A new run's number.
[[nodiscard]] QString newRunId();
// The user's key from the user data folder, made on first use; empty when it can be neither
// read nor written.
[[nodiscard]] QByteArray trackingKey(const QString& userDataFolder);

// The identifier of one recipient's message; empty without a key.
[[nodiscard]] QString trackingId(const RunTracking& run, const QString& address);

enum class TrackingMatch { Valid, Invalid };
// Whether the identifier was made with this key for this address; gives the run's number.
[[nodiscard]] TrackingMatch checkTrackingId(const QByteArray& key, const QString& id,
                                            const QString& address, QString* runId = nullptr);

}  // namespace pw::send
