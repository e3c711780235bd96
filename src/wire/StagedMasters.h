#ifndef KAVELO_WIRE_STAGEDMASTERS_H
#define KAVELO_WIRE_STAGEDMASTERS_H

#include "platform/PinnedFile.h"
#include "platform/Status.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace kavelo::wire {

// One master file as staged for a terminal.
struct StagedMaster
{
    QString name;                                     // "SHOMAS.csv"
    std::shared_ptr<const platform::PinnedFile> file; // null when it could not be opened
    qint64 size = 0;                                  // once digested
    QByteArray sha256;                                // once digested: 32 bytes
};

// The masters staged by one terminal's latest CTRL.csv, in master order.
struct TerminalStage
{
    int terminalNo = 0;
    QList<StagedMaster> masters;
    bool digested = false;
    platform::Status status; // once digested: a file that could not be read, else ok

    const StagedMaster* find(const QString& name) const
    {
        for (const StagedMaster& master : masters) {
            if (master.name == name) {
                return &master;
            }
        }
        return nullptr;
    }
};

} // namespace kavelo::wire

#endif
