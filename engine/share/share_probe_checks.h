#pragma once

// The checks of the share probe, made in its scratch folder through a descriptor of that folder
// (see share_probe.h). Shared by share_probe.cpp and share_probe_checks.cpp only.

#include "engine/share/share_probe.h"
#include "engine/storage/atomic_file.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace vantrel::share_probe {

// What a test made the probe see at `capability` (see setShareProbeFaultsForTesting()), 0 for
// nothing. Called without any lock held: it may block.
int injectedFault(ShareCapability capability);

// This user can't write to the share now (a read-only share, no permission, a full volume):
// nothing can be tried, and the team bundle is only read.
bool cannotWrite(int error);

// Thrown out of the checks: what the share lacks, in one or two sentences.
struct Shortcoming {
    QString text;
};

// The checks, each file made, renamed, linked and removed relative to the descriptor `folder` of
// the scratch folder, whose path (`folderPath`) only names it in errors. `progressed` is called
// after each step the share answered.
class Checks {
public:
    Checks(int folder, QString folderPath, QString fileSystemType, std::function<void()> progressed);

    // Runs every check. False when this user can't write there (refusal() says why), so nothing
    // could be tried. Throws Shortcoming for a promise the share can't keep, StorageError when it
    // fails otherwise.
    bool run();

    int refusal() const { return m_refusal; }
    const OpenFileHandling& openFiles() const { return m_openFiles; }

private:
    bool create(const char* name, bool flush);
    void checkExclusive(const char* existing);
    bool checkExclusiveFolder(const char* name); // false when the share can't be written to
    void checkRenameOver(const char* from, const char* to);
    void checkLink(const char* existing, const char* link);
    void checkOpenFiles();
    // Made and held open for reading while `operation` runs on it.
    int whileHeldOpen(const char* name, ShareCapability capability, const std::function<int()>& operation);
    bool holdsItsWriter(const char* name, const char* writer) const;
    QString pathOf(const char* name) const;
    [[noreturn]] void missing(const QString& text) { throw Shortcoming{text}; }

    int m_folder;
    QString m_folderPath;
    QString m_type;
    std::function<void()> m_progressed;
    int m_refusal = 0;
    OpenFileHandling m_openFiles;
};

// Removes every file of the scratch folder open as `folder`, closes it (SMB keeps a folder that
// is open from being removed), then removes the folder named `name` in the folder open as
// `parent`, when it is still a folder. Never follows a link. Best effort.
void removeScratch(int parent, const QByteArray& name, posix::UniqueFd folder) noexcept;

} // namespace vantrel::share_probe
