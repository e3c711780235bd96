#include "platform/Log.h"

Q_LOGGING_CATEGORY(lcPlatform, "kavelo.platform", QtInfoMsg)
Q_LOGGING_CATEGORY(lcShell, "kavelo.shell", QtInfoMsg)
Q_LOGGING_CATEGORY(lcComm, "kavelo.comm", QtInfoMsg)
Q_LOGGING_CATEGORY(lcExchange, "kavelo.exchange", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBatch, "kavelo.batch", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDistribution, "kavelo.distribution", QtInfoMsg)
Q_LOGGING_CATEGORY(lcImport, "kavelo.import", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMasters, "kavelo.masters", QtInfoMsg)
Q_LOGGING_CATEGORY(lcJobs, "kavelo.jobs", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDb, "kavelo.db", QtInfoMsg)
