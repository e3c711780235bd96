#ifndef KAVELO_WIRE_MASTERANSWER_H
#define KAVELO_WIRE_MASTERANSWER_H

#include "wire/ApiRequest.h"
#include "wire/StagedMasters.h"

#include <QByteArrayView>

namespace kavelo::wire {

// How a GET (or HEAD) of one of a terminal's staged masters is answered, worked out from the request's fields
// before a byte goes out: an error, or which bytes of the staged copy (or of its compressed form) with which fields.
struct MasterAnswer
{
    int status = 200;                     // 200, 206; 404, 416, 500 refuse
    QString refusal;                      // the reason, when refused
    HttpFields fields;                    // of the answer (a refusal's too)
    const StagedMaster* master = nullptr; // within the stage asked about: valid while that is
    qint64 offset = 0;
    qint64 length = 0;
    Coding coding = Coding::Identity; // not identity: the whole file, compressed first (length then unknown)
};

struct MasterRequest
{
    QString name;
    bool head = false;
    QByteArrayView range;          // "Range"
    QByteArrayView ifRange;        // "If-Range": the range only when this is the file's ETag
    QByteArrayView acceptEncoding; // "Accept-Encoding": compressed only when no range is asked for
};

// The answer to `request` for `stage` (null: the terminal staged nothing since start-up). The ETag is the quoted
// SHA-256 of the staged copy, with "-gzip" or "-deflate" for a compressed form.
MasterAnswer answerMaster(const TerminalStage* stage, const MasterRequest& request);

} // namespace kavelo::wire

#endif
