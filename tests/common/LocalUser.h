#pragma once
// A second local user for the tests that play someone else on a shared PC:
// made with useradd when the suite runs as root, removed with userdel when it
// goes. While an Acting guard lives, this process acts as that user
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
    LocalUser() : m_name(QStringLiteral("k410t%1").arg(::getpid()))
    {
        int status = -1; // 1 or 10: another suite holds the password file's lock
        for (int i = 0; i < 50 && ::geteuid() == 0 && (status < 0 || status == 1 || status == 10); ++i, QThread::msleep(100))
            status = QProcess::execute(QStringLiteral("/usr/sbin/useradd"), {"-M", "-U", "-s", "/usr/sbin/nologin", m_name});
        if (const passwd *pw = status == 0 ? ::getpwnam(m_name.toLocal8Bit().constData()) : nullptr) {
            m_uid = pw->pw_uid;
            m_gid = pw->pw_gid;
        }
    }
    ~LocalUser()
    {
        if (isValid())
            QProcess::execute(QStringLiteral("/usr/sbin/userdel"), {m_name});
    }
    bool isValid() const { return m_uid != 0; }
    QString whyNone() const { return QStringLiteral("needs root, to make a second local user with useradd"); }
    QString name() const { return m_name; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    /// Makes `path` (a link itself, not what it leads to) this user's.
    bool give(const QString &path) const { return ::lchown(path.toLocal8Bit().constData(), m_uid, m_gid) == 0; }

    class Acting
    {
    public:
        explicit Acting(const LocalUser &user) : m_groups(size_t(qMax(0, ::getgroups(0, nullptr))))
        {
            m_groups.resize(size_t(qMax(0, ::getgroups(int(m_groups.size()), m_groups.data()))));
            const gid_t gid = user.gid();
            m_ok = ::setgroups(1, &gid) == 0 && ::setegid(gid) == 0 && ::seteuid(user.uid()) == 0;
        }
        ~Acting()
        {
            [[maybe_unused]] const bool back = ::seteuid(0) == 0 && ::setegid(0) == 0
                                               && ::setgroups(m_groups.size(), m_groups.data()) == 0;
        }
        bool ok() const { return m_ok; }

    private:
        std::vector<gid_t> m_groups;
        bool m_ok = false;
    };

private:
    QString m_name;
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
