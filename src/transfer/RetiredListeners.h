#ifndef KAVELO_TRANSFER_RETIREDLISTENERS_H
#define KAVELO_TRANSFER_RETIREDLISTENERS_H

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

namespace kavelo::transfer {

// Listeners that were stopped while their connections close at their own pace (the last line out, a few seconds at
// most): each is deleted once it is done(), and what is left when the owner goes goes with it. A listener has
// stop(reason) and the signal done().
template <typename Listener> class RetiredListeners
{
  public:
    explicit RetiredListeners(QObject& owner)
        : m_owner(owner)
    {
    }
    ~RetiredListeners()
    {
        for (const QPointer<Listener>& listener : std::as_const(m_closing)) {
            delete listener.data();
        }
    }
    RetiredListeners(const RetiredListeners&) = delete;
    RetiredListeners& operator=(const RetiredListeners&) = delete;

    // Stops `listener` (its sessions end with `reason`) and keeps it until its connections have closed.
    void retire(std::unique_ptr<Listener> listener, const QString& reason)
    {
        if (!listener) {
            return;
        }
        Listener* stopping = listener.release();
        stopping->setParent(&m_owner);
        m_closing.append(stopping);
        QObject::connect(stopping, &Listener::done, &m_owner, [this, stopping] {
            m_closing.removeAll(stopping);
            stopping->deleteLater();
        });
        stopping->stop(reason);
    }

  private:
    QObject& m_owner;
    QList<QPointer<Listener>> m_closing;
};

} // namespace kavelo::transfer

#endif
