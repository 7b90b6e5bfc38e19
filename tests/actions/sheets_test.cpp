// Sheets: which names each naming sheet accepts, how it is shown, and the model that shows it.

#include "actions/sheets.h"

#include <QSignalSpy>
#include <QTest>

using namespace vantrel;

namespace {

using Sheet = SheetModel::Sheet;

// Every character a team bundle name must not hold; the quotes are the typographic ones.
const QString teamForbidden = QStringLiteral("~!@#$%^&*()+={}|[]\\\u201D;\u2019<>?,./");

bool valid(const Sheet& sheet, const QString& name)
{
    return isValidName(name, forbiddenCharacters(sheet));
}

} // namespace

class SheetsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void namesEachSheetAccepts()
    {
        for (const Sheet& sheet :
             QList<Sheet>{SheetModel::NewFinalCutLibrary{}, SheetModel::NewFinalCutEvent{}, SheetModel::RenameItem{}}) {
            QVERIFY(!valid(sheet, QStringLiteral("Day/Night")));
            QVERIFY(!valid(sheet, QStringLiteral("Day\nNight")));
            QVERIFY(valid(sheet, QStringLiteral("~Day\\Night\r: 1")));
        }
        const Sheet team = SheetModel::CreateNewTeamBundle{};
        for (const QChar character : teamForbidden)
            QVERIFY2(!valid(team, QStringLiteral("Team") + character), qPrintable(QString(character)));
        QVERIFY(valid(team, QStringLiteral("`Team-1_: \"A\"'s`"))); // the plain quotes are allowed
        QVERIFY(valid(SheetModel::CreateNewCollection{}, teamForbidden + QStringLiteral("\n")));
        QVERIFY(!forbiddenCharacters(SheetModel::AddExisting{}));
    }

    void aNewSheetReplacesTheOneShowingAndDismissingEmptiesTheModel()
    {
        SheetModel model;
        QSignalSpy changes(&model, &SheetModel::sheetChanged);
        QStringList created;
        model.setSheet(SheetModel::CreateNewCollection{[&](QString name) { created << name; }});
        model.setSheet(
            SheetModel::CreateNewTeamBundle{[&](QString name) { created << QStringLiteral("team ") + name; }});
        QCOMPARE(changes.count(), 2);
        const auto sheet = model.sheet();
        const auto* team = std::get_if<SheetModel::CreateNewTeamBundle>(&*sheet);
        QVERIFY(team);
        team->create(QStringLiteral("Studio"));
        QCOMPARE(created, QStringList{QStringLiteral("team Studio")});

        presentedFlag(&model).set(false);
        QVERIFY(!model.sheet().has_value());
    }
};

QTEST_MAIN(SheetsTest)
#include "sheets_test.moc"
