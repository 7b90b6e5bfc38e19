// large_bench's report: the table of figures and verdicts, then every round's figures.

#include "bench/large_bench.h"

#include <cstdio>
#include <functional>

namespace vantrel::bench::large {

namespace {

double ratioMedian(const std::vector<double>& values, const std::vector<double>& bases)
{
    std::vector<double> ratios;
    for (size_t index = 0; index < values.size() && index < bases.size(); ++index)
        ratios.push_back(values[index] / bases[index]);
    return median(ratios);
}

QString ratioText(double ratio)
{
    // Three digits for the small ratios, so that a figure over its target does not read as equal.
    return QStringLiteral("%1x").arg(ratio, 0, 'f', ratio < 0.1 ? 3 : 2);
}

QString outcome(bool pass)
{
    return pass ? QStringLiteral("PASS") : QStringLiteral("MISS");
}

struct Table {
    std::vector<QStringList> rows{{QStringLiteral("Measure"), QStringLiteral("Vantrel"), QStringLiteral("restic"),
                                   QStringLiteral("borg"), QStringLiteral("Target"), QStringLiteral("Result")}};

    void ratio(const QString& what, double value, double target, const QString& restic = {}, const QString& borg = {})
    {
        rows.push_back(
            {what, ratioText(value), restic, borg, QStringLiteral("<= %1x").arg(target), outcome(value <= target)});
    }
    void info(const QString& what, const QString& value, const QString& restic = {}, const QString& borg = {})
    {
        rows.push_back({what, value, restic, borg, QString(), QStringLiteral("info")});
    }
};

// The rows of one share: the import, the teammate's first check-out, what reusing chunks read
// (when the bytes its mount read are known: sshfs).
void shareRows(Table& table, const QString& share, const PlaceFigures& figures, double largeBytes, bool readBytes)
{
    table.ratio(QStringLiteral("import on the %1, x cp onto the share").arg(share),
                ratioMedian(figures.import, figures.copyTo), 1.1);
    table.ratio(QStringLiteral("teammate's check-out, empty cache, %1, x cp from the share").arg(share),
                ratioMedian(figures.emptyCheckOut, figures.copyFrom), 1.05);
    table.info(QStringLiteral("  the same, until the working copy is on disk (the cache written after), x cp"),
               ratioText(ratioMedian(figures.emptyCheckOutWait, figures.copyFrom)));
    const double again = median(figures.importAgainShareBytes);
    if (readBytes)
        table.rows.push_back(
            {QStringLiteral("read from the %1 importing the same file again (chunks in the store)").arg(share),
             miB(again), QString(), QString(), QStringLiteral("<= 1% of the file"),
             outcome(again >= 0 && again <= largeBytes / 100)});
    table.info(QStringLiteral("  that import again, x cp onto the share"),
               ratioText(ratioMedian(figures.importAgain, figures.copyTo)));
    table.info(QStringLiteral("check-in of the middle edit on the %1, x cp onto the share").arg(share),
               ratioText(ratioMedian(figures.checkIn, figures.copyTo)));
    table.info(QStringLiteral("teammate's check-out of that version (checked out the one before), x a read"),
               ratioText(ratioMedian(figures.warmCheckOut, figures.read)));
    if (!readBytes)
        return;
    table.info(QStringLiteral("  the same, read from the share"), miB(median(figures.warmShareBytes)));
    table.info(QStringLiteral("  the first check-out, read from the share"), miB(median(figures.emptyShareBytes)));
}

void growthRows(Table& table, const QString& file, const GrowthFigures& figures)
{
    for (const Edit edit : edits) {
        const EditGrowth& growth = figures[size_t(edit)];
        const double engine = median(growth.engine);
        const double restic = median(growth.restic);
        table.rows.push_back({QStringLiteral("growth, %1, %2 (%3 changed)")
                                  .arg(file, editName(edit), mebibytes(double(growth.changed), 2)),
                              miB(engine), miB(restic), miB(median(growth.borg)), QStringLiteral("<= restic"),
                              outcome(engine <= restic)});
    }
}

void growthDetails(std::vector<QStringList>& details, const QString& file, const GrowthFigures& figures)
{
    for (const Edit edit : edits) {
        const EditGrowth& growth = figures[size_t(edit)];
        details.push_back({QStringLiteral("%1, %2").arg(file, editName(edit)), runList(growth.engine, miB),
                           runList(growth.restic, miB), runList(growth.borg, miB)});
    }
}

} // namespace

QString miB(double bytes)
{
    return bytes < 0 ? QStringLiteral("n/a") : mebibytes(bytes, 2);
}

void report(const Settings& settings, const Results& results)
{
    const QString large = mebibytes(double(settings.largeBytes), 0);
    Table table;
    const PlaceFigures& local = results.local;
    if (settings.share)
        shareRows(table, QStringLiteral("sshfs share"), results.share, double(settings.largeBytes), true);
    if (settings.smb)
        shareRows(table, QStringLiteral("SMB share"), results.smb, double(settings.largeBytes), false);
    if (settings.local) {
        table.ratio(QStringLiteral("check-in of 1 MiB changed in the middle, local disk, x a cold read of the file"),
                    ratioMedian(local.checkIn, local.read), 1.1, ratioText(ratioMedian(local.restic, local.read)),
                    ratioText(ratioMedian(local.borg, local.read)));
        table.ratio(QStringLiteral("  the same check-in, x restic's backup in the same round"),
                    ratioMedian(local.checkIn, local.restic), 1.0);
        table.ratio(QStringLiteral("  the same check-in, x borg's backup in the same round"),
                    ratioMedian(local.checkIn, local.borg), 1.0);
        table.info(QStringLiteral("import of the %1 file, local disk, x cp").arg(large),
                   ratioText(ratioMedian(local.import, local.copyTo)));
        growthRows(table, QStringLiteral("%1 file").arg(large), local.edits);
    }
    if (settings.smaller) {
        growthRows(table, QStringLiteral("200 MiB file"), results.medium);
        growthRows(table, QStringLiteral("50 MiB file of the package"), results.package);
    }
    if (settings.share)
        table.info(QStringLiteral("bundle growth of the middle edit on the sshfs share"),
                   miB(median(results.share.growth)));
    printColumns(table.rows);

    std::printf("\nDetails (seconds or MiB, every round in order):\n\n");
    std::vector<QStringList> details{
        {QStringLiteral("Step"), QStringLiteral("Local disk"), QStringLiteral("sshfs"), QStringLiteral("SMB")}};
    const auto all = [&](const char* what, std::vector<double> PlaceFigures::*member,
                         const std::function<QString(double)>& format) {
        details.push_back({QString::fromUtf8(what), runList(local.*member, format),
                           runList(results.share.*member, format), runList(results.smb.*member, format)});
    };
    all("cp of the file into the place", &PlaceFigures::copyTo, seconds);
    all("cp of that copy back to the local disk", &PlaceFigures::copyFrom, seconds);
    all("read of that copy", &PlaceFigures::read, seconds);
    all("import", &PlaceFigures::import, seconds);
    all("the same file imported again", &PlaceFigures::importAgain, seconds);
    all("  read from the share", &PlaceFigures::importAgainShareBytes, miB);
    all("check-in of the middle edit", &PlaceFigures::checkIn, seconds);
    all("restic backup of the middle edit", &PlaceFigures::restic, seconds);
    all("borg backup of the middle edit", &PlaceFigures::borg, seconds);
    all("bundle growth", &PlaceFigures::growth, miB);
    all("teammate's check-out, having checked out the one before", &PlaceFigures::warmCheckOut, seconds);
    all("  until the working copy is on disk", &PlaceFigures::warmCheckOutWait, seconds);
    all("  read from the share", &PlaceFigures::warmShareBytes, miB);
    all("teammate's first check-out (empty cache)", &PlaceFigures::emptyCheckOut, seconds);
    all("  until the working copy is on disk", &PlaceFigures::emptyCheckOutWait, seconds);
    all("  read from the share", &PlaceFigures::emptyShareBytes, miB);
    if (settings.local || settings.share || settings.smb)
        printColumns(details);
    std::vector<QStringList> growth{
        {QStringLiteral("Growth"), QStringLiteral("Vantrel"), QStringLiteral("restic"), QStringLiteral("borg")}};
    if (settings.local)
        growthDetails(growth, QStringLiteral("%1 file").arg(large), local.edits);
    if (settings.smaller) {
        growthDetails(growth, QStringLiteral("200 MiB file"), results.medium);
        growthDetails(growth, QStringLiteral("50 MiB file of the package"), results.package);
    }
    if (growth.size() > 1) {
        std::printf("\n");
        printColumns(growth);
    }
}

} // namespace vantrel::bench::large
