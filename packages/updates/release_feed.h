#pragma once

#include "foundation/error.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace vantrel::updates {

// The release channels a build belongs to; a build follows the builds of its own channel only.
enum class ReleaseChannel { production, beta, alpha };

// The channel's name in the feed: "production", "beta" or "alpha".
QString channelName(ReleaseChannel channel);

// One build the feed lists.
struct ReleaseBuild {
    qint64 build = 0;
    QString version;
    // The page the build is downloaded from; always http or https.
    QUrl downloadURL;
    bool withdrawn = false;
};

// The release feed is a JSON document (UTF-8, at most `maximumSize` bytes):
//
//   {
//     "format": 1,
//     "channels": {
//       "production": [ {"build": 412, "version": "2.3", "downloadURL": "https://...", "withdrawn": false} ],
//       "beta": [ ... ],
//       "alpha": [ ... ]
//     }
//   }
//
// "format" must be 1. A channel that is missing lists no builds. Each build needs "build" (a
// whole number from 1 to 2^53), "version" (text, at most 64 characters) and "downloadURL" (an
// absolute http or https URL, at most 2048 characters); "withdrawn" (true or false) is false when
// missing, and other members are ignored. A build number appears at most once per channel, and a
// channel lists at most 10000 builds. Only the reader's own channel is read and checked.
struct ReleaseFeed {
    static constexpr qint64 maximumSize = 1024 * 1024;
    static constexpr int format = 1;

    // The builds of `channel`, in the feed's order. Throws ReleaseFeedError when the document is
    // not such a feed.
    static QList<ReleaseBuild> parse(const QByteArray& document, ReleaseChannel channel);
};

// A release feed that cannot be read; the description says what is wrong with it.
class ReleaseFeedError final : public Error {
public:
    explicit ReleaseFeedError(const QString& problem);

protected:
    QString typeName() const override;
};

// Where a build stands among the builds of its channel.
struct ReleaseStanding {
    // The builds newer than ours that are not withdrawn.
    quint64 buildsBehind = 0;
    // Whether the feed lists our build as withdrawn.
    bool withdrawn = false;
    // The newest build that is not withdrawn, when it is newer than ours.
    std::optional<ReleaseBuild> newest;
    // The newest build older than ours that is not withdrawn.
    std::optional<ReleaseBuild> rollback;

    static ReleaseStanding of(qint64 ourBuild, const QList<ReleaseBuild>& builds);
};

} // namespace vantrel::updates
