#include "packages/updates/release_feed.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

#include <cmath>

namespace vantrel::updates {

namespace {

constexpr qsizetype maximumBuilds = 10000;
constexpr qsizetype maximumVersionLength = 64;
constexpr qsizetype maximumURLLength = 2048;
constexpr double largestBuild = 9007199254740992.0; // 2^53: every whole number below is exact

QString describe(int index, const QString& problem)
{
    return QStringLiteral("build %1 of the channel: %2").arg(index + 1).arg(problem);
}

ReleaseBuild readBuild(const QJsonValue& value, int index)
{
    if (!value.isObject())
        throw ReleaseFeedError(describe(index, QStringLiteral("is not an object")));
    const QJsonObject entry = value.toObject();

    const QJsonValue build = entry.value(QLatin1String("build"));
    const double number = build.toDouble(-1);
    if (!build.isDouble() || number < 1 || number > largestBuild || std::floor(number) != number)
        throw ReleaseFeedError(describe(index, QStringLiteral("\"build\" is not a whole number from 1 to 2^53")));

    const QJsonValue version = entry.value(QLatin1String("version"));
    if (!version.isString() || version.toString().size() > maximumVersionLength)
        throw ReleaseFeedError(
            describe(index, QStringLiteral("\"version\" is not a text of at most %1 characters").arg(maximumVersionLength)));

    const QJsonValue download = entry.value(QLatin1String("downloadURL"));
    const QString downloadText = download.toString();
    const QUrl url(downloadText, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!download.isString() || downloadText.size() > maximumURLLength || !url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
        throw ReleaseFeedError(describe(index, QStringLiteral("\"downloadURL\" is not an http or https URL")));

    const QJsonValue withdrawn = entry.value(QLatin1String("withdrawn"));
    if (!withdrawn.isUndefined() && !withdrawn.isBool())
        throw ReleaseFeedError(describe(index, QStringLiteral("\"withdrawn\" is neither true nor false")));

    return ReleaseBuild{static_cast<qint64>(number), version.toString(), url, withdrawn.toBool(false)};
}

} // namespace

QString channelName(ReleaseChannel channel)
{
    switch (channel) {
    case ReleaseChannel::production:
        return QStringLiteral("production");
    case ReleaseChannel::beta:
        return QStringLiteral("beta");
    case ReleaseChannel::alpha:
        return QStringLiteral("alpha");
    }
    return {};
}

QList<ReleaseBuild> ReleaseFeed::parse(const QByteArray& document, ReleaseChannel channel)
{
    if (document.size() > maximumSize)
        throw ReleaseFeedError(QStringLiteral("it is larger than %1 bytes").arg(maximumSize));
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(document, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw ReleaseFeedError(
            QStringLiteral("it is not JSON (%1 at byte %2)").arg(parseError.errorString()).arg(parseError.offset));
    if (!json.isObject())
        throw ReleaseFeedError(QStringLiteral("it is not a JSON object"));
    const QJsonObject root = json.object();

    const QJsonValue version = root.value(QLatin1String("format"));
    if (!version.isDouble() || version.toDouble() != format)
        throw ReleaseFeedError(QStringLiteral("its \"format\" is not %1").arg(format));
    const QJsonValue channels = root.value(QLatin1String("channels"));
    if (!channels.isObject())
        throw ReleaseFeedError(QStringLiteral("its \"channels\" is not an object"));

    const QJsonValue listed = channels.toObject().value(channelName(channel));
    if (listed.isUndefined())
        return {};
    if (!listed.isArray())
        throw ReleaseFeedError(QStringLiteral("its channel \"%1\" is not a list").arg(channelName(channel)));
    const QJsonArray entries = listed.toArray();
    if (entries.size() > maximumBuilds)
        throw ReleaseFeedError(
            QStringLiteral("its channel \"%1\" lists more than %2 builds").arg(channelName(channel)).arg(maximumBuilds));

    QList<ReleaseBuild> builds;
    QSet<qint64> seen;
    for (int index = 0; index < entries.size(); ++index) {
        ReleaseBuild build = readBuild(entries.at(index), index);
        if (seen.contains(build.build))
            throw ReleaseFeedError(QStringLiteral("its channel \"%1\" lists build %2 more than once")
                                       .arg(channelName(channel))
                                       .arg(build.build));
        seen.insert(build.build);
        builds.append(std::move(build));
    }
    return builds;
}

ReleaseFeedError::ReleaseFeedError(const QString& problem)
    : Error(QCoreApplication::translate("vantrel::updates::ReleaseFeed", "The release feed cannot be read: %1.")
                .arg(problem))
{
}

QString ReleaseFeedError::typeName() const
{
    return QStringLiteral("ReleaseFeedError");
}

ReleaseStanding ReleaseStanding::of(qint64 ourBuild, const QList<ReleaseBuild>& builds)
{
    ReleaseStanding standing;
    for (const ReleaseBuild& build : builds) {
        if (build.build == ourBuild) {
            standing.withdrawn = build.withdrawn;
            continue;
        }
        if (build.withdrawn)
            continue;
        if (build.build > ourBuild) {
            ++standing.buildsBehind;
            if (!standing.newest || build.build > standing.newest->build)
                standing.newest = build;
        } else if (!standing.rollback || build.build > standing.rollback->build) {
            standing.rollback = build;
        }
    }
    return standing;
}

} // namespace vantrel::updates
