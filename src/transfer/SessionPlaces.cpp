#include "transfer/SessionPlaces.h"

#include "platform/Log.h"
#include "wire/Occupant.h"

#include <algorithm>

namespace kavelo::transfer {

SessionPlaces::SessionPlaces(int maxSessions)
    : m_maxSessions(qMax(1, maxSessions))
{
}

bool SessionPlaces::request(wire::Occupant& channel)
{
    endOlder(channel);
    if (m_open.size() < m_maxSessions) {
        m_open.append(&channel);
        return true;
    }
    m_waiting.push_back(&channel);
    qCInfo(lcComm).noquote() << channel.describe() +
                                    QStringLiteral(": waits for a free session (%1 open)").arg(m_open.size());
    return false;
}

void SessionPlaces::endOlder(wire::Occupant& channel)
{
    const int terminal = channel.terminalNo();
    QList<wire::Occupant*> older;
    for (wire::Occupant* open : std::as_const(m_open)) {
        if (open != &channel && open->terminalNo() == terminal) {
            older.append(open);
        }
    }
    for (wire::Occupant* waiting : m_waiting) {
        if (waiting != &channel && waiting->terminalNo() == terminal) {
            older.append(waiting);
        }
    }
    for (wire::Occupant* old : std::as_const(older)) {
        // Taken out first, so that its place goes to the new session and not to the next one waiting.
        m_open.removeOne(old);
        m_waiting.erase(std::remove(m_waiting.begin(), m_waiting.end(), old), m_waiting.end());
        qCInfo(lcComm).noquote() << QStringLiteral("terminal %1 connected again from %2; its earlier session from "
                                                   "%3 is ended")
                                        .arg(terminal)
                                        .arg(channel.peer(), old->peer());
        old->end(QStringLiteral("terminal %1 connected again").arg(terminal));
    }
}

void SessionPlaces::endTerminal(int terminal, const QString& reason)
{
    QList<wire::Occupant*> ending;
    for (wire::Occupant* open : std::as_const(m_open)) {
        if (open->terminalNo() == terminal) {
            ending.append(open);
        }
    }
    for (wire::Occupant* waiting : m_waiting) {
        if (waiting->terminalNo() == terminal) {
            ending.append(waiting);
        }
    }
    for (wire::Occupant* channel : std::as_const(ending)) {
        channel->end(reason); // it leaves its place as it ends
    }
}

bool SessionPlaces::holds(int terminal) const
{
    const auto ofTerminal = [terminal](const wire::Occupant* channel) { return channel->terminalNo() == terminal; };
    return std::any_of(m_open.cbegin(), m_open.cend(), ofTerminal) ||
           std::any_of(m_waiting.cbegin(), m_waiting.cend(), ofTerminal);
}

bool SessionPlaces::leave(wire::Occupant& channel)
{
    m_waiting.erase(std::remove(m_waiting.begin(), m_waiting.end(), &channel), m_waiting.end());
    return m_open.removeOne(&channel) && !m_waiting.empty();
}

bool SessionPlaces::setMaxSessions(int maxSessions)
{
    m_maxSessions = qMax(1, maxSessions);
    return m_open.size() < m_maxSessions && !m_waiting.empty();
}

QList<wire::Occupant*> SessionPlaces::takeAdmitted()
{
    QList<wire::Occupant*> admitted;
    while (m_open.size() < m_maxSessions && !m_waiting.empty()) {
        wire::Occupant* next = m_waiting.front();
        m_waiting.pop_front();
        m_open.append(next);
        admitted.append(next);
    }
    return admitted;
}

} // namespace kavelo::transfer
