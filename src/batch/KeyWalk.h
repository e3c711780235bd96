#ifndef KAVELO_BATCH_KEYWALK_H
#define KAVELO_BATCH_KEYWALK_H

#include "platform/Database.h"
#include "platform/Status.h"

#include <QString>

#include <string_view>
#include <vector>

namespace kavelo::batch {

// Walks the entries of a key index in key order, for keys asked for in the same order (the keys of a sorted
// batch): mostly it steps on to the next entries; a key far ahead starts it again there (one search, as for a
// single key). So a batch finds its rows page after page of the index instead of one search each.
//
// The walk's statement selects the stored key and the rowid of the entries from a given key on, in the index's
// order ("SELECT key, rowid ... WHERE key >= ?N COLLATE RTRIM ORDER BY key COLLATE RTRIM"). With a terminal ID,
// ?1 takes it and ?2 the key; without one, ?1 takes the key. A third result column, when the walk is told of one, is
// handed back with each entry as a flag (the import asks whether the row is an imported one).
class KeyWalk
{
  public:
    struct Entry
    {
        qint64 rowid;
        bool exact; // the stored key equals the wanted one byte for byte, trailing blanks included
        bool flag;  // the third result column is not 0; false when the walk selects none
    };

    enum class Flag
    {
        None,
        ThirdColumn,
    };

    explicit KeyWalk(platform::Statement& walk, QString terminalId = QString(), Flag flag = Flag::None);

    KeyWalk(const KeyWalk&) = delete;
    KeyWalk& operator=(const KeyWalk&) = delete;

    // Appends the entries whose key equals `compared` (a key without its trailing blanks) in index order, and
    // returns how many. `exactKey` is the key as it would be stored. Keys must come in ascending order.
    platform::Result<size_t> find(std::string_view compared, QByteArrayView exactKey, std::vector<Entry>& found);

    // Ends the walk; the next find() starts it afresh. No statement may still read the index while the table
    // changes, so the walk is ended before a batch writes.
    void finish();

  private:
    platform::Status startAt(std::string_view key);
    platform::Status step();
    std::string_view current() const;

    platform::Statement& m_walk;
    const QString m_terminalId;
    const bool m_flagged;
    bool m_on = false;    // the walk stands on an entry
    bool m_atEnd = false; // the walk went past the last entry
};

} // namespace kavelo::batch

#endif
