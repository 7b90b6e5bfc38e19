#include "engine/user_identity.h"

#include "engine/id_for.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUuid>
#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

// The value of an environment variable when it is set to something other than blanks.
QString environmentOverride(const char* name)
{
    return qEnvironmentVariable(name).trimmed();
}

struct Account {
    QString loginName;
    QString realName;
};

Account systemAccount()
{
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int result = 0;
    while ((result = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE
           && buffer.size() < (size_t(1) << 20))
        buffer.resize(buffer.size() * 2);

    Account account;
    if (result == 0 && found) {
        account.loginName = QString::fromLocal8Bit(found->pw_name);
        if (found->pw_gecos) {
            // GECOS: "Full Name,Room,Work phone,Home phone,Other".
            const QString gecos = QString::fromLocal8Bit(found->pw_gecos);
            account.realName = gecos.section(QLatin1Char(','), 0, 0).trimmed();
        }
    }
    if (account.loginName.isEmpty()) {
        account.loginName = qEnvironmentVariable("USER");
        if (account.loginName.isEmpty())
            account.loginName = QString::number(getuid());
    }
    return account;
}

QString systemHostName()
{
    QString name = QSysInfo::machineHostName();
    if (name.isEmpty()) {
        char buffer[HOST_NAME_MAX + 1] = {};
        if (gethostname(buffer, sizeof buffer - 1) == 0)
            name = QString::fromLocal8Bit(buffer);
    }
    return name;
}

// A stored id: the first line of the file, when it is a UUID.
QString readClientId(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.read(256)).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (const auto uuid = parseUuidString(text))
        return uuidString(*uuid);
    return {};
}

void syncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes `id` to `path` through a temporary file. When another process of this user created the
// file first, its id wins so that both agree. Returns the id that is stored, or `id` when nothing
// could be stored.
QString storeClientId(const QString& path, const QString& id)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        qWarning("Could not create the folder %s for the installation id.", qUtf8Printable(folder));
        return id;
    }
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = QFile::encodeName(folder) + "/.tmp-client-id-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        const int error = errno;
        qWarning("Could not store the installation id in %s: %s", qUtf8Printable(folder), std::strerror(error));
        return id;
    }
    const QByteArray contents = id.toUtf8() + '\n';
    bool written = ::fchmod(fd, 0644) == 0;
    for (qsizetype offset = 0; written && offset < contents.size();) {
        const ssize_t count = ::write(fd, contents.constData() + offset, size_t(contents.size() - offset));
        if (count < 0 && errno == EINTR)
            continue;
        written = count > 0;
        offset += count;
    }
    written = written && ::fsync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temporary.constData());
        qWarning("Could not store the installation id in %s: %s", qUtf8Printable(folder), std::strerror(writeErrno));
        return id;
    }

    // link() publishes the file only when no other process did so in the meantime.
    QString stored = id;
    if (::link(temporary.constData(), target.constData()) != 0) {
        const QString existing = errno == EEXIST ? readClientId(path) : QString();
        if (!existing.isEmpty()) {
            stored = existing;
        } else if (::rename(temporary.constData(), target.constData()) != 0) {
            const int error = errno;
            qWarning("Could not store the installation id in %s: %s", qUtf8Printable(path), std::strerror(error));
        }
    }
    ::unlink(temporary.constData());
    syncFolder(QFile::encodeName(folder));
    return stored;
}

QString storedClientId()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString path = (base.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : base)
        + QStringLiteral("/Vantrel/client-id");
    if (QString id = readClientId(path); !id.isEmpty())
        return id;
    return storeClientId(path, uuidString(QUuid::createUuid()));
}

// The override names folders and files in team bundles, so it must be one plain name.
bool isUsableClientId(const QString& id)
{
    return !id.isEmpty() && id != QLatin1String(".") && id != QLatin1String("..")
        && !id.contains(QLatin1Char('/')) && !id.contains(QChar(0));
}

} // namespace

UserIdentity UserIdentity::current()
{
    const Account account = systemAccount();
    UserIdentity identity;
    const QString userOverride = environmentOverride("VANTREL_USER_NAME");
    identity.userName = userOverride.isEmpty() ? account.loginName : userOverride;

    identity.fullName = environmentOverride("VANTREL_FULL_NAME");
    if (identity.fullName.isEmpty())
        identity.fullName = userOverride.isEmpty() && !account.realName.isEmpty() ? account.realName
                                                                                  : identity.userName;

    identity.hostName = environmentOverride("VANTREL_HOST_NAME");
    if (identity.hostName.isEmpty())
        identity.hostName = systemHostName();
    return identity;
}

QString installationClientId()
{
    const QString override = environmentOverride("VANTREL_CLIENT_ID");
    if (!override.isEmpty()) {
        if (isUsableClientId(override))
            return override;
        qWarning("VANTREL_CLIENT_ID is ignored: \"%s\" is not a plain name.", qUtf8Printable(override));
    }
    // Initialised once, under the lock the language provides for local statics.
    static const QString stored = storedClientId();
    return stored;
}

} // namespace vantrel
