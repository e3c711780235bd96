#ifndef KAVELO_TRANSFER_SESSIONPLACES_H
#define KAVELO_TRANSFER_SESSIONPLACES_H

#include <QList>

#include <deque>

namespace kavelo::wire {
class Occupant;
}

namespace kavelo::transfer {

// The places for sessions: at most `maxSessions` run at once, one per terminal number; sessions beyond that wait
// in the order of their HELLO. A new session of a terminal that already has one (a dropped Wi-Fi link leaves a
// half-open one behind) ends the older session or wait and is served in its place. An occupant is a protocol v1
// session, or all the HTTPS requests of one terminal in flight at once.
class SessionPlaces
{
  public:
    explicit SessionPlaces(int maxSessions);

    // True when `channel` has its place now; false when it waits.
    bool request(wire::Occupant& channel);
    // `channel` gives up its place or its wait. Returns whether a place became free for a waiting one.
    bool leave(wire::Occupant& channel);
    // A new limit (a reload): sessions open stay open, whatever it is; a higher one frees places for waiting ones.
    // Returns whether a waiting one may now be admitted.
    bool setMaxSessions(int maxSessions);
    // The waiting sessions that now have a place, removed from the wait; the caller admits them.
    QList<wire::Occupant*> takeAdmitted();

    // Ends every session and wait of `terminal` with `reason`.
    void endTerminal(int terminal, const QString& reason);
    // Whether `terminal` has a session or waits for one.
    bool holds(int terminal) const;

    const QList<wire::Occupant*>& open() const { return m_open; }
    qsizetype waiting() const { return static_cast<qsizetype>(m_waiting.size()); }

  private:
    void endOlder(wire::Occupant& channel);

    int m_maxSessions;
    QList<wire::Occupant*> m_open;
    std::deque<wire::Occupant*> m_waiting;
};

} // namespace kavelo::transfer

#endif
