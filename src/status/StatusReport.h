#ifndef KAVELO_STATUS_STATUSREPORT_H
#define KAVELO_STATUS_STATUSREPORT_H

#include "status/LiveState.h"
#include "status/StatusBoard.h"

#include <QByteArray>

namespace kavelo::status {

// GET /status: everything as JSON (docs/status.md describes each field).
QByteArray statusJson(const StatusBoard& board, const LiveState& live);
// GET /: the same for a person, in Japanese, one self-refreshing page with nothing from outside.
QByteArray statusPage(const StatusBoard& board, const LiveState& live);
// GET /metrics: Prometheus text exposition format, version 0.0.4.
QByteArray metricsText(const StatusBoard& board, const LiveState& live);

} // namespace kavelo::status

#endif
