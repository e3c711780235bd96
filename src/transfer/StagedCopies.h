#ifndef KAVELO_TRANSFER_STAGEDCOPIES_H
#define KAVELO_TRANSFER_STAGEDCOPIES_H

#include "platform/Status.h"
#include "wire/StagedMasters.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QThreadPool;

namespace kavelo::transfer {

// Each terminal's staged copies: the files are opened right after the staging, before anything else can touch the
// program folder, so a terminal is sent exactly what was staged for it even after another terminal's staging has
// replaced the names. Sizes and SHA-256 digests are worked out on a worker thread. A terminal's copies are kept until
// its next CTRL.csv, so a later connection gets exactly them. Used on the event loop's thread only.
class StagedCopies : public QObject
{
    Q_OBJECT

  public:
    using Ready = std::function<void(std::shared_ptr<const wire::TerminalStage> stage)>;

    // Whoever owns `workers` waits for them (QThreadPool::waitForDone) before this object goes.
    StagedCopies(QString programFolder, QThreadPool& workers, QObject* parent = nullptr);

    // The names `names` of the program folder are terminal `terminalNo`'s masters now.
    void stage(int terminalNo, const QStringList& names);
    // The terminal's copies as staged; null when it has staged nothing since start-up. Their digests may still be
    // on their way.
    std::shared_ptr<const wire::TerminalStage> of(int terminalNo) const;
    // Calls `ready` with the terminal's copies, digested (null when none), from the event loop: at once when they
    // are, else once they are. Nothing is called once `context` is gone.
    void whenDigested(int terminalNo, QObject* context, Ready ready);

  private:
    void digest(const std::shared_ptr<wire::TerminalStage>& stage);
    void digested(const std::shared_ptr<wire::TerminalStage>& stage,
                  const QList<wire::StagedMaster>& masters,
                  const platform::Status& status);

    struct Waiter
    {
        QPointer<QObject> context;
        Ready ready;
    };

    QString m_programFolder;
    QThreadPool& m_workers;
    QHash<int, std::shared_ptr<wire::TerminalStage>> m_stages;
    QHash<const wire::TerminalStage*, QList<Waiter>> m_waiters;
};

} // namespace kavelo::transfer

#endif
