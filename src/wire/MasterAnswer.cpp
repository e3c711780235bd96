#include "wire/MasterAnswer.h"

#include "wire/TransferOutcome.h"

namespace kavelo::wire {

MasterAnswer answerMaster(const TerminalStage* stage, const MasterRequest& request)
{
    MasterAnswer answer;
    answer.master = stage ? stage->find(request.name) : nullptr;
    if (!answer.master || !answer.master->file) {
        answer.status = 404;
        answer.refusal = QStringLiteral("nothing staged by that name");
        return answer;
    }
    if (!stage->status.isOk()) {
        answer.status = 500;
        answer.refusal = QStringLiteral("cannot read a staged master: ") + reasonForTerminal(stage->status);
        return answer;
    }
    const qint64 size = answer.master->size;
    const QByteArray etag = '"' + answer.master->sha256.toHex() + '"';
    ByteRange range;
    if (!request.range.isEmpty() && (request.ifRange.isEmpty() || request.ifRange == etag)) {
        range = parseRange(request.range, size);
    }
    if (range.kind == ByteRange::Kind::Unsatisfiable) {
        answer.status = 416;
        answer.refusal = QStringLiteral("the range is outside the file");
        answer.fields = {{"Content-Range", "bytes */" + QByteArray::number(size)}};
        return answer;
    }
    answer.fields = {{"Content-Type", "application/octet-stream"},
                     {"Accept-Ranges", "bytes"},
                     {"Cache-Control", "no-store"},
                     {"Vary", "Accept-Encoding"}};
    if (range.kind == ByteRange::Kind::Whole && !request.head) {
        answer.coding = chooseCoding(request.acceptEncoding);
    }
    if (answer.coding != Coding::Identity) {
        const QByteArray coding = codingName(answer.coding);
        answer.fields.append({"Content-Encoding", coding});
        answer.fields.append({"ETag", etag.chopped(1) + '-' + coding + '"'});
        return answer;
    }
    answer.fields.append({"ETag", etag});
    if (range.kind == ByteRange::Kind::Part) {
        answer.status = 206;
        answer.offset = range.first;
        answer.length = range.last - range.first + 1;
        answer.fields.append({"Content-Range",
                              "bytes " + QByteArray::number(range.first) + '-' + QByteArray::number(range.last) + '/' +
                                  QByteArray::number(size)});
        return answer;
    }
    answer.length = size;
    return answer;
}

} // namespace kavelo::wire
