#include "transfer/KeyGuard.h"

namespace kavelo::transfer {

namespace {

QString keyOf(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4).toString() : address.toString();
}

} // namespace

qint64 KeyGuard::heldOffFor(const QHostAddress& address, const QDateTime& now) const
{
    const auto found = m_records.constFind(keyOf(address));
    if (found == m_records.cend() || !found->heldUntil.isValid() || found->heldUntil <= now) {
        return 0;
    }
    return qMax<qint64>(1, now.secsTo(found->heldUntil));
}

bool KeyGuard::failed(const QHostAddress& address, const QDateTime& now)
{
    ++m_failures;
    const QString key = keyOf(address);
    if (!m_records.contains(key) && m_records.size() >= kMaxAddresses) {
        forgetOne();
    }
    Record& record = m_records[key];
    if (record.heldUntil.isValid() && record.heldUntil > now) {
        return false; // held off already; its time is not extended
    }
    const QDateTime windowStart = now.addSecs(-kWindowSeconds);
    while (!record.failures.empty() && record.failures.front() <= windowStart) {
        record.failures.pop_front();
    }
    record.failures.push_back(now);
    if (static_cast<int>(record.failures.size()) < kMaxFailures) {
        return false;
    }
    record.failures.clear();
    record.heldUntil = now.addSecs(kHoldSeconds);
    return true;
}

QList<HeldOff> KeyGuard::heldOff(const QDateTime& now) const
{
    QList<HeldOff> list;
    for (auto it = m_records.cbegin(); it != m_records.cend(); ++it) {
        if (it->heldUntil.isValid() && it->heldUntil > now) {
            list.append(HeldOff{QHostAddress(it.key()), it->heldUntil});
        }
    }
    return list;
}

void KeyGuard::forgetOne()
{
    // An address held off is kept while it is; among the others the one quiet longest goes.
    auto oldest = m_records.end();
    for (auto it = m_records.begin(); it != m_records.end(); ++it) {
        const QDateTime last = it->failures.empty() ? it->heldUntil : it->failures.back();
        const QDateTime oldestLast = oldest == m_records.end()
                                         ? QDateTime()
                                         : (oldest->failures.empty() ? oldest->heldUntil : oldest->failures.back());
        if (oldest == m_records.end() || last < oldestLast) {
            oldest = it;
        }
    }
    if (oldest != m_records.end()) {
        m_records.erase(oldest);
    }
}

} // namespace kavelo::transfer
