#ifndef KAVELO_TRANSFER_KEYGUARD_H
#define KAVELO_TRANSFER_KEYGUARD_H

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QList>

#include <deque>

namespace kavelo::transfer {

// An address held off after guessing keys, and until when.
struct HeldOff
{
    QHostAddress address;
    QDateTime until;
};

// Holds off an address that guesses keys: kMaxFailures wrong keys within kWindowSeconds hold it off for
// kHoldSeconds, whatever it sends meanwhile (a right key too); other addresses are not affected. One guard counts
// for both protocols. Times are passed in, so that the rule is checked without waiting ten minutes.
class KeyGuard
{
  public:
    static constexpr int kMaxFailures = 10;
    static constexpr qint64 kWindowSeconds = 600;
    static constexpr qint64 kHoldSeconds = 600;
    // Addresses remembered at once; beyond it the one whose last failure is oldest is forgotten.
    static constexpr int kMaxAddresses = 4096;

    // Seconds the address is still held off at `now`; 0 when it is not.
    qint64 heldOffFor(const QHostAddress& address, const QDateTime& now) const;
    // A wrong key from `address`. True when this failure starts its hold-off.
    bool failed(const QHostAddress& address, const QDateTime& now);
    // Every address held off at `now`.
    QList<HeldOff> heldOff(const QDateTime& now) const;
    // Wrong keys since start-up.
    qint64 failures() const { return m_failures; }

  private:
    struct Record
    {
        std::deque<QDateTime> failures; // within the window, oldest first
        QDateTime heldUntil;
    };

    void forgetOne();

    QHash<QString, Record> m_records; // by address text (an IPv4-mapped address as its IPv4 address)
    qint64 m_failures = 0;
};

} // namespace kavelo::transfer

#endif
