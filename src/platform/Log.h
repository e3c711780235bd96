#ifndef KAVELO_PLATFORM_LOG_H
#define KAVELO_PLATFORM_LOG_H

#include <QLoggingCategory>

// One logging category per subsystem; the shell installs the single handler that writes kavelo.log.
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcShell)
Q_DECLARE_LOGGING_CATEGORY(lcComm)
Q_DECLARE_LOGGING_CATEGORY(lcExchange)
Q_DECLARE_LOGGING_CATEGORY(lcBatch)
Q_DECLARE_LOGGING_CATEGORY(lcDistribution)
Q_DECLARE_LOGGING_CATEGORY(lcImport)
Q_DECLARE_LOGGING_CATEGORY(lcMasters)
Q_DECLARE_LOGGING_CATEGORY(lcJobs)
Q_DECLARE_LOGGING_CATEGORY(lcDb)

#endif
