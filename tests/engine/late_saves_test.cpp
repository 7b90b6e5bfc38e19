// What an editor saves into a working copy around its removal after a check-in is never lost.

#include "engine/late_changes.h"
#include "engine/versioning_service.h"
#include "support/child_process.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/shell_child.h"
#include "support/sync_wait.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

class LateSavesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // An editor that opens and saves the working copy by its path at any moment around its
    // removal after a check-in (once the version is published, in the instant right before the
    // removal, or racing with it) loses no save: what it saved is in the attic or in the working
    // folder. It saves in place, by a new file renamed over the old one, or into its folder made
    // again; a save that finds no folder fails, which the editor sees.
    void noSaveIsLostAtTheRemoval()
    {
        AnaEditing editing("edited");
        auto& [fixture, ana, ben, cut, checkedOut, seenByAna, watch] = editing;
        const QString errors = fixture.scratch(QStringLiteral("errors")) + QStringLiteral("/errors");
        const QString editor =
            QStringLiteral("IFS= read -r how && IFS= read -r path && IFS= read -r text || exit 1\n"
                           "case \"$how\" in\n"
                           "  inPlace) printf %s \"$text\" > \"$path\" ;;\n"
                           "  renamed) printf %s \"$text\" > \"$path.new\" && mv -f \"$path.new\" \"$path\" ;;\n"
                           "  again) mkdir -p \"${path%/*}\" && printf %s \"$text\" > \"$path\" ;;\n"
                           "esac 2>/dev/null && echo 'done saved' || echo 'done failed'\n");
        const QStringList hows{QStringLiteral("inPlace"), QStringLiteral("renamed"), QStringLiteral("again")};
        enum Moment { published, beforeRemoval, racing };
        int saved = 0;
        for (int round = 0; round < 36; ++round) {
            const QString workingCopy = checkOutItem(cut);
            writeFile(workingCopy, "edited");
            const QByteArray text = "saved in round " + QByteArray::number(round);
            const Moment moment = Moment(round % 3);
            ChildProcess child;
            startShell(child, errors, editor);
            const auto save = [&, line = hows.at(round / 3 % 3).toUtf8() + '\n' + QFile::encodeName(workingCopy) + '\n'
                                         + text + '\n'](bool wait) {
                child.send(line);
                if (wait)
                    child.waitFor("done ");
            };
            ana->setCommitObserverForTesting([&](TeamBundle::CommitStep step) {
                if (moment == published && step == TeamBundle::CommitStep::published)
                    save(true);
            });
            setBeforeWorkingCopyRemovalForTesting([&](const QString&) {
                if (moment != published)
                    save(moment == beforeRemoval);
            });
            syncWait(cut->checkIn(QStringLiteral("Edited"), defaultS3Factory()));
            ana->setCommitObserverForTesting({});
            setBeforeWorkingCopyRemovalForTesting({});
            const QString outcome = child.waitFor("done ");
            QVERIFY2(!outcome.isEmpty(), qPrintable(child.describe()));
            if (outcome != QLatin1String("saved"))
                continue;
            ++saved;
            const bool inFolder = QFileInfo::exists(workingCopy) && contentOf(workingCopy) == text;
            QVERIFY2(inFolder || keptInAttic(ana, cut, QStringLiteral("Cut.kdenlive")).contains(text),
                     qPrintable(QStringLiteral("round %1: %2").arg(round).arg(QString::fromUtf8(text))));
        }
        QVERIFY(saved >= 12);
    }

    // An editor that opened the working copy before the check-in moved it aside writes through
    // what it holds right before the removal: the folder stays aside while it is held, and the
    // next check-in keeps that write in the attic once the editor let go.
    void aWriteThroughAHeldFileIsKeptOnceLetGo()
    {
        AnaEditing editing("edited");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;
        const QString errors = fixture.scratch(QStringLiteral("errors")) + QStringLiteral("/errors");
        ChildProcess holding;
        ana->setCommitObserverForTesting([&](TeamBundle::CommitStep step) {
            if (step == TeamBundle::CommitStep::published)
                startShell(holding, errors,
                           QStringLiteral("exec 3<>\"$1\" && echo ready && { read line; printf 'written late' >&3; }"),
                           {workingCopy});
        });
        setBeforeWorkingCopyRemovalForTesting([&](const QString&) { holding.end(); });
        QVERIFY(syncWait(cut->checkIn(QStringLiteral("Edited"), defaultS3Factory())).keptLateChanges);
        ana->setCommitObserverForTesting({});
        setBeforeWorkingCopyRemovalForTesting({});
        QVERIFY(holding.exitedCleanly());
        QVERIFY(!keptInAttic(ana, cut, QStringLiteral("Cut.kdenlive")).contains("written late"));

        writeFile(checkOutItem(cut), "edited again");
        syncWait(cut->checkIn(QStringLiteral("Edited again"), defaultS3Factory()));
        QVERIFY(keptInAttic(ana, cut, QStringLiteral("Cut.kdenlive")).contains("written late"));
    }
};

QTEST_GUILESS_MAIN(LateSavesTest)
#include "late_saves_test.moc"
