#pragma once

#include "engine/team_bundle.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace vantrel::testing {

// A team bundle in a temporary folder, opened by as many clients as a test needs. Each client
// has its own identity and its own local folders, as if on its own machine.
class TeamFixture {
public:
    TeamFixture();
    ~TeamFixture();

    QString root() const { return m_root; }
    QString scratch(const QString& name) const; // a fresh folder for sources and exports

    // Opens the team bundle as another client ("Ana" on "studio-a", "Ben" on "studio-b", ...).
    std::shared_ptr<TeamBundle> client(const QString& userName);

private:
    QTemporaryDir m_dir;
    QString m_root;
    std::map<QString, std::shared_ptr<TeamBundle>> m_clients;
};

// Files below a folder: relative path -> a description of the entry (content for files,
// "dir" for folders, "-> target" for links, "special" for pipes and sockets, with "+x" for
// executables).
QMap<QString, QByteArray> describeTree(const QString& root);
void writeFile(const QString& path, const QByteArray& content);

} // namespace vantrel::testing
