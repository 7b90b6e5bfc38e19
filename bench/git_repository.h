// git beside the engine: a repository whose working tree is a package the benchmark also stores
// in a team bundle, committed with the git of the system.

#pragma once

#include <QString>
#include <QStringList>

namespace vantrel::bench {

class GitRepository {
public:
    // The repository's own folder `gitDir` (made by create()) and the folder it tracks.
    GitRepository(QString gitDir, QString workTree);

    // The version of the git on the PATH, e.g. "git version 2.39.5"; empty when there is none.
    static QString version();

    // A new repository that never collects garbage on its own, with a committer and nothing
    // from the user's or the system's git settings.
    void create() const;
    // `git add -A && git commit`: the first commit of the whole tree, with loose objects stored
    // uncompressed to save time (a setting of this commit only; nothing timed reads them).
    void commitFirst(const QString& message) const;
    // `git add -A && git commit -q -m MESSAGE` with git's default settings, as one shell command
    // line, then syncfs() of the repository's disk: the seconds until the commit is on disk.
    double timedCommit(const QString& message) const;
    // The commit HEAD names.
    QString head() const;
    // Makes `commit` the branch's commit again, keeping the index and the working tree (the
    // objects written since stay, so the next commit has the same parent and the same work).
    void resetSoft(const QString& commit) const;
    // The size of every file in the objects folder (what du would sum).
    qint64 objectBytes() const;

    const QString& gitDir() const { return m_gitDir; }

private:
    QString run(const QStringList& arguments) const;

    QString m_gitDir;
    QString m_workTree;
};

} // namespace vantrel::bench
