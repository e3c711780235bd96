#include "batch/KeyWalk.h"

namespace kavelo::batch {

using platform::Result;
using platform::Status;

namespace {

// A key this many index entries or more beyond the walk's place is searched for instead of walked to.
constexpr int kWalkSteps = 16;

std::string_view withoutTrailingBlanks(QByteArrayView key)
{
    while (!key.isEmpty() && key.back() == ' ') {
        key.chop(1);
    }
    return std::string_view(key.data(), static_cast<size_t>(key.size()));
}

} // namespace

KeyWalk::KeyWalk(platform::Statement& walk, QString terminalId, Flag flag)
    : m_walk(walk)
    , m_terminalId(std::move(terminalId))
    , m_flagged(flag == Flag::ThirdColumn)
{
}

std::string_view KeyWalk::current() const
{
    return withoutTrailingBlanks(m_walk.utf8(0));
}

Status KeyWalk::startAt(std::string_view key)
{
    m_walk.reset();
    int parameter = 1;
    if (!m_terminalId.isNull()) {
        m_walk.bind(parameter++, m_terminalId);
    }
    m_walk.bindUtf8(parameter, QByteArrayView(key.data(), qsizetype(key.size())));
    return step();
}

Status KeyWalk::step()
{
    Result<bool> row = m_walk.step();
    if (!row.isOk()) {
        m_walk.reset();
        m_on = false;
        m_atEnd = false;
        return row.status();
    }
    m_on = *row;
    m_atEnd = !*row;
    return Status::ok();
}

Result<size_t> KeyWalk::find(std::string_view compared, QByteArrayView exactKey, std::vector<Entry>& found)
{
    if (m_atEnd) {
        return size_t(0); // no stored key is as high as an earlier one of the batch
    }
    Status moved = Status::ok();
    if (!m_on) {
        moved = startAt(compared);
    } else {
        for (int steps = 0; moved.isOk() && m_on && current() < compared; ++steps) {
            if (steps == kWalkSteps) {
                moved = startAt(compared);
                break;
            }
            moved = step();
        }
    }
    size_t count = 0;
    while (moved.isOk() && m_on && current() == compared) {
        found.push_back({m_walk.integer(1), m_walk.utf8(0) == exactKey, m_flagged && m_walk.integer(2) != 0});
        ++count;
        moved = step();
    }
    if (!moved.isOk()) {
        return moved;
    }
    return count;
}

void KeyWalk::finish()
{
    m_walk.reset();
    m_on = false;
    m_atEnd = false;
}

} // namespace kavelo::batch
