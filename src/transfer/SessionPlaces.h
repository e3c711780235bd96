#ifndef KAVELO_TRANSFER_SESSIONPLACES_H
#define KAVELO_TRANSFER_SESSIONPLACES_H

#include <QList>

#include <deque>

namespace kavelo::wire {
class SessionChannel;
}

namespace kavelo::transfer {

using wire::SessionChannel;

// The places for sessions: at most `maxSessions` run at once, one per terminal number; sessions beyond that wait
// in the order of their HELLO. A new HELLO of a terminal that already has a session (a dropped Wi-Fi link leaves a
// half-open one behind) ends the older session or wait and is served in its place.
class SessionPlaces
{
  public:
    explicit SessionPlaces(int maxSessions);

    // True when `channel` has its place now; false when it waits.
    bool request(SessionChannel& channel);
    // `channel` gives up its place or its wait. Returns whether a place became free for a waiting one.
    bool leave(SessionChannel& channel);
    // The waiting sessions that now have a place, removed from the wait; the caller admits them.
    QList<SessionChannel*> takeAdmitted();

    // Ends every session and wait of `terminal` with `reason`.
    void endTerminal(int terminal, const QString& reason);
    // Whether `terminal` has a session or waits for one.
    bool holds(int terminal) const;

    const QList<SessionChannel*>& open() const { return m_open; }
    qsizetype waiting() const { return static_cast<qsizetype>(m_waiting.size()); }

  private:
    void endOlder(SessionChannel& channel);

    int m_maxSessions;
    QList<SessionChannel*> m_open;
    std::deque<SessionChannel*> m_waiting;
};

} // namespace kavelo::transfer

#endif
