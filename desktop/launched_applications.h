#pragma once

#include <QList>
#include <QMutex>
#include <QString>

namespace vantrel {

// The applications this program started on a file, remembered while they run, so that a check-in
// or discard can tell that the editor it opened still has the working copy. Safe from any thread.
class LaunchedApplications {
public:
    struct Launch {
        qint64 pid = 0;
        // The file or folder the application was started on, as given to it.
        QString path;
        // The application's name for people ("Kdenlive"), or its program name when unknown.
        QString applicationName;
    };

    // The registry the desktop launcher fills in.
    static LaunchedApplications& shared();

    void remember(const Launch& launch);
    // The launches still running whose path is `folder` or inside it. Launches whose process
    // has ended are forgotten on the way.
    QList<Launch> runningInside(const QString& folder);
    // Every launch still running, whatever it was started on.
    QList<Launch> running();

private:
    QMutex m_mutex;
    QList<Launch> m_launches;
};

} // namespace vantrel
