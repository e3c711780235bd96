#ifndef KAVELO_TESTS_SUPPORT_INJECTEDFILEOPS_H
#define KAVELO_TESTS_SUPPORT_INJECTEDFILEOPS_H

#include "platform/FileOps.h"

#include <QDir>
#include <QString>

#include <optional>
#include <vector>

namespace kavelo::test {

// The real file operations, except those told to fail: an operation fails, without touching anything, when its
// kind matches and its target path ends with the given text. A new file's writes (Write: "No space left on
// device") are matched by the path of its template (".kavelo-upload-XXXXXX"); its commit is a Replace of its target.
class InjectedFileOps : public platform::FileOps
{
  public:
    enum class Op
    {
        Remove,
        Copy,
        Move,
        Replace,
        Create,
        Write,
    };

    void failOn(Op op, const QString& targetEndsWith) { m_failures.push_back({op, targetEndsWith}); }
    // What availableBytes() says from now on (nothing: the system does not say), instead of the disk's own figure.
    void setAvailableBytes(std::optional<qint64> bytes) { m_available = bytes; }

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
    platform::Result<std::unique_ptr<platform::NewFile>> create(const QString& folder,
                                                                const QString& nameTemplate) override
    {
        const QString path = QDir(folder).filePath(nameTemplate);
        if (injected(Op::Create, path)) {
            return failure(path);
        }
        platform::Result<std::unique_ptr<platform::NewFile>> made = real().create(folder, nameTemplate);
        if (!made.isOk()) {
            return made.status();
        }
        return std::unique_ptr<platform::NewFile>(std::make_unique<Injected>(*this, std::move(*made), path));
    }
    std::optional<qint64> availableBytes(const QString& folder) const override
    {
        return m_available ? *m_available : real().availableBytes(folder);
    }

  private:
    class Injected : public platform::NewFile
    {
      public:
        Injected(InjectedFileOps& ops, std::unique_ptr<platform::NewFile> file, QString path)
            : m_ops(ops)
            , m_file(std::move(file))
            , m_path(std::move(path))
        {
        }
        platform::Status write(QByteArrayView bytes) override
        {
            if (m_ops.injected(Op::Write, m_path)) {
                return platform::Status::fileError(m_path,
                                                   QStringLiteral("No space left on device"),
                                                   QStringLiteral("write failed"),
                                                   platform::Status::Kind::NoSpace);
            }
            return m_file->write(bytes);
        }
        platform::Status commit(const QString& target) override
        {
            return m_ops.injected(Op::Replace, target) ? failure(target) : m_file->commit(target);
        }

      private:
        InjectedFileOps& m_ops;
        std::unique_ptr<platform::NewFile> m_file;
        QString m_path;
    };

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
    std::optional<std::optional<qint64>> m_available;
};

} // namespace kavelo::test

#endif
