#include "desktop/user_identity.h"

#include "foundation/uuid_text.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUuid>
#include <QtGlobal>

#include <algorithm>
#include <cctype>
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

// The first line of a small regular file, trimmed; empty when there is none. Reads at most 256
// bytes and opens nothing but a regular file: a pipe, a device or (unless `followLinks`) a link
// is not read, so nothing a damaged folder holds can make this hang.
QByteArray firstLineOf(const QByteArray& path, bool followLinks)
{
    struct stat before {};
    const int found = followLinks ? ::stat(path.constData(), &before) : ::lstat(path.constData(), &before);
    if (found != 0 || !S_ISREG(before.st_mode))
        return {};
    const int fd =
        ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return {};
    QByteArray bytes;
    struct stat opened {};
    // The same file as the one looked at: it was not swapped for something else in between.
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_dev == before.st_dev
        && opened.st_ino == before.st_ino) {
        char buffer[256];
        size_t total = 0;
        while (total < sizeof buffer) {
            const ssize_t count = ::read(fd, buffer + total, sizeof buffer - total);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            total += size_t(count);
        }
        bytes = QByteArray(buffer, qsizetype(total));
    }
    ::close(fd);
    const qsizetype end = bytes.indexOf('\n');
    return (end < 0 ? bytes : bytes.left(end)).trimmed();
}

// A stored id: the first line of the file, when it is a UUID.
QString readClientId(const QString& path)
{
    if (const auto uuid = parseUuidString(QString::fromUtf8(firstLineOf(QFile::encodeName(path), false))))
        return uuidString(*uuid);
    return {};
}

// A machine id as systemd and D-Bus write it: 32 hexadecimal digits, not all zero.
bool isMachineId(const QByteArray& text)
{
    if (text.size() != 32)
        return false;
    bool zero = true;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        zero = zero && c == '0';
    }
    return !zero;
}

void syncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes `id` to `path` through a temporary file. When another process of this machine created
// the file first, its id wins so that both agree. Returns the id that is stored, or `id` when
// nothing could be stored.
QString storeClientId(const QString& path, const QString& id)
{
    const QString folder = QFileInfo(path).absolutePath();
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
        } else if (const QString now = readClientId(path); !now.isEmpty()) {
            stored = now; // a damaged file was replaced, maybe by another process as well
        }
    }
    ::unlink(temporary.constData());
    syncFolder(QFile::encodeName(folder));
    return stored;
}

// Makes the id an older version kept in `legacy` (one file for every machine that shares the
// home folder) the id of this machine, unless another machine has taken it already. The claim
// is a rename to a name of this machine's own: of several machines racing for one file, exactly
// one rename succeeds. A claim left by a process of this machine that stopped half-way is
// completed here too.
void adoptLegacyClientId(const QString& legacy, const QString& claim, const QString& slot)
{
    const QByteArray claimPath = QFile::encodeName(claim);
    if (!readClientId(legacy).isEmpty() && ::rename(QFile::encodeName(legacy).constData(), claimPath.constData()) != 0
        && errno != ENOENT) {
        const int error = errno;
        qWarning("Could not take over the installation id in %s: %s", qUtf8Printable(legacy), std::strerror(error));
    }
    if (readClientId(claim).isEmpty())
        return;
    // This machine's claim wins over an id that another process of this machine has just made:
    // check-outs and lock records name the old id.
    if (::rename(claimPath.constData(), QFile::encodeName(slot).constData()) != 0) {
        const int error = errno;
        qWarning("Could not take over the installation id in %s: %s", qUtf8Printable(claim), std::strerror(error));
        return;
    }
    syncFolder(QFile::encodeName(QFileInfo(legacy).absolutePath()));
    syncFolder(QFile::encodeName(QFileInfo(slot).absolutePath()));
}

} // namespace

QString machineIdentity()
{
    if (const QString override = environmentOverride("VANTREL_MACHINE_ID"); !override.isEmpty())
        return QStringLiteral("machine-id:") + override;
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        // Often a link (to /run, or between the two): followed, but only to a regular file.
        const QByteArray id = firstLineOf(path, true).toLower();
        if (isMachineId(id))
            return QStringLiteral("machine-id:") + QString::fromLatin1(id);
    }
    const QString host = systemHostName();
    return QStringLiteral("host:") + (host.isEmpty() ? QStringLiteral("localhost") : host);
}

QString storedClientId(const QString& folder, const QString& machine)
{
    // The machine's identity is hashed: a value from the environment never becomes a path.
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(machine.toUtf8(), QCryptographicHash::Sha256).toHex().left(32));
    const QString idFolder = folder + QStringLiteral("/client-ids");
    const QString slot = idFolder + QLatin1Char('/') + name;
    if (QString id = readClientId(slot); !id.isEmpty())
        return id;

    struct stat info {};
    if (!QDir().mkpath(idFolder) || ::lstat(QFile::encodeName(idFolder).constData(), &info) != 0
        || !S_ISDIR(info.st_mode)) {
        qWarning("Could not create the folder %s for the installation id.", qUtf8Printable(idFolder));
        return uuidString(QUuid::createUuid());
    }
    adoptLegacyClientId(folder + QStringLiteral("/client-id"), idFolder + QStringLiteral("/.adopting-") + name, slot);
    if (QString id = readClientId(slot); !id.isEmpty())
        return id;
    return storeClientId(slot, uuidString(QUuid::createUuid()));
}

bool isUsableClientId(const QString& id)
{
    // The id names folders and files in team bundles and on the local disk.
    if (id.isEmpty() || id.startsWith(QLatin1Char('.')) || id.contains(QLatin1Char('/')) || id.toUtf8().size() > 200)
        return false;
    return std::none_of(id.cbegin(), id.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

QString displayName(const QString& fullName, const QString& userName)
{
    return fullName.isEmpty() ? userName : fullName;
}

UserIdentity UserIdentity::current()
{
    const Account account = systemAccount();
    UserIdentity identity;
    const QString userOverride = environmentOverride("VANTREL_USER_NAME");
    identity.userName = userOverride.isEmpty() ? account.loginName : userOverride;

    identity.fullName = environmentOverride("VANTREL_FULL_NAME");
    if (identity.fullName.isEmpty())
        identity.fullName = displayName(userOverride.isEmpty() ? account.realName : QString(), identity.userName);

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
    static const QString stored = [] {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        return storedClientId((base.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : base)
                                  + QStringLiteral("/Vantrel"),
                              machineIdentity());
    }();
    return stored;
}

} // namespace vantrel
