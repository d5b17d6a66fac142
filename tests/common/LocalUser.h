#pragma once
// A second local user, for the tests that play someone else on a shared PC (a
// hostile user, a technician without root): made with useradd when the suite
// runs as root and removed with userdel when it goes, also after a failed
// check. While an Acting guard lives this process acts as that user
// (effective ids, no supplementary groups). POSIX only.

#include <QProcess>
#include <QString>
#include <QThread>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace testutil {

class LocalUser
{
public:
    LocalUser()
    {
        if (::geteuid() != 0) {
            m_why = QStringLiteral("needs root, to make a second local user with useradd");
            return;
        }
        m_name = QStringLiteral("k410t%1").arg(::getpid());
        const QStringList args{QStringLiteral("--no-create-home"), QStringLiteral("--user-group"),
                               QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"), m_name};
        // useradd gives up at once when another suite holds the password
        // file's lock (exit status 1 or 10): try again a few times.
        int status = -1;
        for (int attempt = 0; attempt < 50; ++attempt) {
            status = QProcess::execute(QStringLiteral("/usr/sbin/useradd"), args);
            if (status != 1 && status != 10)
                break;
            QThread::msleep(100);
        }
        const passwd *pw = status == 0 ? ::getpwnam(m_name.toLocal8Bit().constData()) : nullptr;
        if (!pw) {
            m_why = QStringLiteral("useradd %1 failed (exit status %2)").arg(m_name).arg(status);
            return;
        }
        m_uid = pw->pw_uid;
        m_gid = pw->pw_gid;
    }
    ~LocalUser()
    {
        if (isValid())
            QProcess::execute(QStringLiteral("/usr/sbin/userdel"), {m_name});
    }
    LocalUser(const LocalUser &) = delete;
    LocalUser &operator=(const LocalUser &) = delete;

    bool isValid() const { return m_uid != 0; }
    /// Why there is none (the test skips with these words).
    QString whyNone() const { return m_why; }
    QString name() const { return m_name; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    /// Makes `path` (a link itself, not what it leads to) this user's.
    bool give(const QString &path) const { return ::lchown(path.toLocal8Bit().constData(), m_uid, m_gid) == 0; }

    /// This process acts as `user` for as long as this lives.
    class Acting
    {
    public:
        explicit Acting(const LocalUser &user)
        {
            m_groups.resize(size_t(qMax(0, ::getgroups(0, nullptr))));
            m_groups.resize(size_t(qMax(0, ::getgroups(int(m_groups.size()), m_groups.data()))));
            const gid_t gid = user.gid();
            m_ok = ::setgroups(1, &gid) == 0 && ::setegid(gid) == 0 && ::seteuid(user.uid()) == 0;
        }
        ~Acting()
        {
            [[maybe_unused]] const bool back = ::seteuid(0) == 0 && ::setegid(0) == 0
                                               && ::setgroups(m_groups.size(), m_groups.data()) == 0;
        }
        Acting(const Acting &) = delete;
        Acting &operator=(const Acting &) = delete;
        bool ok() const { return m_ok; }

    private:
        std::vector<gid_t> m_groups;
        bool m_ok = false;
    };

private:
    QString m_name;
    QString m_why;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

/// The owner, group and access bits of `path` (a link itself), as "uid:gid mode".
inline QString ownerAndMode(const QString &path)
{
    struct stat st {};
    if (::lstat(path.toLocal8Bit().constData(), &st) != 0)
        return QStringLiteral("nothing");
    return QStringLiteral("%1:%2 %3").arg(st.st_uid).arg(st.st_gid).arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
}

} // namespace testutil
