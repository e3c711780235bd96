#ifndef KAVELO_TRANSFER_HTTPSSEAT_H
#define KAVELO_TRANSFER_HTTPSSEAT_H

#include "wire/Occupant.h"

#include <QList>

#include <functional>

namespace kavelo::wire {
class HttpsConnection;
}

namespace kavelo::transfer {

// One terminal's HTTPS requests in flight, as one occupant of the server's places: they share one place while any
// is in flight, and give it up when the last one is answered. Ending it ends every one of them.
class HttpsSeat : public wire::Occupant
{
  public:
    // `admitted` is told when the seat gets its place.
    HttpsSeat(int terminalNo, std::function<void(const HttpsSeat&)> admitted);

    void add(wire::HttpsConnection& request);
    // Returns whether it was the last one.
    bool remove(wire::HttpsConnection& request);
    bool holds(const wire::HttpsConnection& request) const { return m_requests.contains(&request); }
    bool hasPlace() const { return m_hasPlace; }
    // The place was there at once.
    void placed();

    int terminalNo() const override { return m_terminalNo; }
    wire::Transport transport() const override { return wire::Transport::Https; }
    QString peer() const override;
    QDateTime since() const override { return m_since; }
    QString activity() const override;
    QString describe() const override;
    void admit() override;
    void end(const QString& reason) override;

  private:
    int m_terminalNo;
    std::function<void(const HttpsSeat&)> m_admitted;
    QDateTime m_since;
    QList<wire::HttpsConnection*> m_requests;
    bool m_hasPlace = false;
};

} // namespace kavelo::transfer

#endif
