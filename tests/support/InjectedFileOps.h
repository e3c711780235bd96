#ifndef KAVELO_TESTS_SUPPORT_INJECTEDFILEOPS_H
#define KAVELO_TESTS_SUPPORT_INJECTEDFILEOPS_H

#include "platform/FileOps.h"

#include <QString>

#include <vector>

namespace kavelo::test {

// The real file operations, except those told to fail: an operation fails, without touching anything, when its
// kind matches and its target path ends with the given text.
class InjectedFileOps : public platform::FileOps
{
  public:
    enum class Op
    {
        Remove,
        Copy,
        Move,
        Replace,
    };

    void failOn(Op op, const QString& targetEndsWith) { m_failures.push_back({op, targetEndsWith}); }

    bool exists(const QString& path) const override { return real().exists(path); }
    platform::Status remove(const QString& path) override
    {
        return injected(Op::Remove, path) ? failure(path) : real().remove(path);
    }
    platform::Status copy(const QString& source, const QString& target) override
    {
        return injected(Op::Copy, target) ? failure(target) : real().copy(source, target);
    }
    platform::Status move(const QString& source, const QString& target) override
    {
        return injected(Op::Move, target) ? failure(target) : real().move(source, target);
    }
    platform::Status replace(const QString& source, const QString& target) override
    {
        return injected(Op::Replace, target) ? failure(target) : real().replace(source, target);
    }

  private:
    struct Failure
    {
        Op op;
        QString targetEndsWith;
    };

    bool injected(Op op, const QString& target) const
    {
        for (const Failure& f : m_failures) {
            if (f.op == op && target.endsWith(f.targetEndsWith)) {
                return true;
            }
        }
        return false;
    }
    static platform::Status failure(const QString& path)
    {
        return platform::Status::error(path + QStringLiteral(": injected failure"));
    }

    std::vector<Failure> m_failures;
};

} // namespace kavelo::test

#endif
