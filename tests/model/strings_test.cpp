#include "model/strings.h"
#include "model/text_format.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>
#include <QScopeGuard>
#include <QTest>
#include <QTranslator>

#include <limits>

using namespace vantrel;
using namespace Qt::StringLiterals;

namespace {

// Answers the "Strings" context from a fixed table; everything else stays untranslated.
class TableTranslator : public QTranslator {
public:
    explicit TableTranslator(QHash<QString, QString> table) : m_table(std::move(table)) {}

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char* disambiguation, int n) const override
    {
        Q_UNUSED(n);
        if (qstrcmp(context, "Strings") != 0 || (disambiguation && *disambiguation))
            return {};
        return m_table.value(QString::fromUtf8(sourceText));
    }

private:
    QHash<QString, QString> m_table;
};

} // namespace

class StringsTest : public QObject {
    Q_OBJECT

private slots:
    // formatText
    void insertedTextIsNeverReadAgain();
    void positionalArgumentsPickTheirArgument();
    void integersArePlainDecimals();
    void mismatchedKindsAreAccepted();
    void unmatchedSequencesStayAsTheyStand();

    // Strings
    void pluralChoosesTheFormatByCount();
    void untranslatedEntriesAreTheirEnglishKeys();
    void translatorsAreFollowedOnEveryRead();
    void descriptionTextsAreLookedUpOnEveryCall();
};

void StringsTest::insertedTextIsNeverReadAgain()
{
    for (const QString& name : {u"%@"_s, u"%d"_s, u"%1"_s, u"%%"_s, u"%1$@"_s, u"50% off"_s})
        QCOMPARE(formatText(u"Open %@"_s, name), u"Open "_s + name);

    // The second placeholder takes the second argument, not the "%@" that the first inserted.
    QCOMPARE(formatText(u"%@ and %@"_s, "%@", "B"), u"%@ and B"_s);
    QCOMPARE(formatText(u"%1$@ %2$@"_s, "%2$@", "x"), u"%2$@ x"_s);
    QCOMPARE(formatText(u"%d items in %@"_s, "%@", "%d"), u"%@ items in %d"_s);
}

void StringsTest::positionalArgumentsPickTheirArgument()
{
    QCOMPARE(formatText(u"%2$@ %1$@"_s, "first", "second"), u"second first"_s);
    QCOMPARE(formatText(u"%1$@, %1$@"_s, "again"), u"again, again"_s);
    QCOMPARE(formatText(u"%2$d items in %1$@"_s, "Trash", 3), u"3 items in Trash"_s);
    QCOMPARE(formatText(u"%1$ld/%2$lld"_s, 1, 2), u"1/2"_s);

    // A positional placeholder does not move the sequential counter.
    QCOMPARE(formatText(u"%2$@ %@ %@"_s, "a", "b"), u"b a b"_s);
    QCOMPARE(formatText(u"%@ %1$@ %@"_s, "a", "b"), u"a a b"_s);
}

void StringsTest::integersArePlainDecimals()
{
    // A grouping locale must not leak into the numbers.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(previous); });

    QCOMPARE(formatText(u"%d"_s, 1234567), u"1234567"_s);
    QCOMPARE(formatText(u"%d"_s, -7), u"-7"_s);
    QCOMPARE(formatText(u"%i|%ld|%li|%lld|%lli"_s, 1, 2L, 3L, 4LL, 5LL), u"1|2|3|4|5"_s);
    QCOMPARE(formatText(u"%lld"_s, std::numeric_limits<qint64>::min()), u"-9223372036854775808"_s);
    QCOMPARE(formatText(u"%llu"_s, std::numeric_limits<quint64>::max()), u"18446744073709551615"_s);
    QCOMPARE(formatText(u"%u %lu"_s, 7u, qsizetype(8)), u"7 8"_s);
    QCOMPARE(formatText(u"%d%%"_s, 50), u"50%"_s);
}

void StringsTest::mismatchedKindsAreAccepted()
{
    QCOMPARE(formatText(u"%d files"_s, "Several"), u"Several files"_s);
    QCOMPARE(formatText(u"%@ files"_s, 12), u"12 files"_s);
    QCOMPARE(formatText(u"In %d %@"_s, QList<FormatArgument>{2, u"Events"_s}), u"In 2 Events"_s);
}

void StringsTest::unmatchedSequencesStayAsTheyStand()
{
    // Placeholders without an argument.
    QCOMPARE(formatText(u"%@ and %@"_s, "a"), u"a and %@"_s);
    QCOMPARE(formatText(u"%3$@ of %1$@"_s, "a", "b"), u"%3$@ of a"_s);
    QCOMPARE(formatText(u"%lld left"_s), u"%lld left"_s);

    // Sequences that are not placeholders; none of them uses up an argument.
    const QString unknown[] = {u"%x"_s, u"100%"_s, u"%"_s,      u"%0$@"_s, u"%l@"_s,
                               u"%1"_s, u"%1$"_s,  u"%lllld"_s, u"%1$x"_s, u"% d"_s};
    for (const QString& format : unknown)
        QCOMPARE(formatText(format + u" %@"_s, "arg"), format + u" arg"_s);

    // "%%" is a literal percent sign, also right before a conversion character.
    QCOMPARE(formatText(u"%%d %@"_s, "x"), u"%d x"_s);
    QCOMPARE(formatText(u"%%%@"_s, "x"), u"%x"_s);
    QCOMPARE(formatText(u"%%"_s), u"%"_s);

    QCOMPARE(formatText(u"plain"_s, "unused", 1), u"plain"_s);
    QCOMPARE(formatText(QString(), "unused"), QString());
}

void StringsTest::pluralChoosesTheFormatByCount()
{
    const QString one = Strings::unsavedChangesOne();
    const QString other = Strings::unsavedChangesOther();

    QCOMPARE(Strings::plural(QString(), one, other, 0), QString());
    QCOMPARE(Strings::plural(u"%d items"_s, one, other, 0), u"0 items"_s);
    QCOMPARE(Strings::plural(QString(), one, other, 1), u"1 item has unsaved changes."_s);
    QCOMPARE(Strings::plural(QString(), one, other, -1), u"1 item has unsaved changes."_s);
    QCOMPARE(Strings::plural(QString(), one, other, 3), u"3 items have unsaved changes."_s);
    QCOMPARE(Strings::plural(QString(), one, other, -2), u"-2 items have unsaved changes."_s);
    QCOMPARE(Strings::plural(QString(), one, other, 5'000'000'000), u"5000000000 items have unsaved changes."_s);
    QCOMPARE(Strings::plural(QString(), u"%d Item"_s, u"%d Items"_s, -1), u"-1 Item"_s);
}

void StringsTest::untranslatedEntriesAreTheirEnglishKeys()
{
    QCOMPARE(Strings::welcomeTitle(), u"Welcome to Vantrel"_s);
    QCOMPARE(Strings::closeConfirmationTitle(), u"Are you sure you want to close ?"_s);
    QCOMPARE(Strings::dontSendButtonTitle(), u"Don't Send"_s);
    QCOMPARE(Strings::betaPrefix(), u"Beta - "_s);
    QCOMPARE(Strings::discardChangesTitle(), u"Discard"_s);
    QCOMPARE(Strings::discardButtonTitle(), u"Discard"_s);
    QCOMPARE(Strings::permanentDeleteMessage(),
             u"%@ will be permenently deleted. Vantrel cannot revert this action."_s);
    QCOMPARE(Strings::teamBundleNameMessage(),
             u"Enter a name and pick a location. Choose a shared\nlocation if you\u2019d like to "
             u"collaborate with more people\nand let them open the same Team Bundle."_s);
    QCOMPARE(Strings::forceUnlockExplainer(),
             u"If you\u2019re unable to open %@ because a collaborator forgot to submit changes, "
             u"you can force unlock %@. Be aware that your collaborator will not be able to "
             u"upload any changes. Only do this when there is no other way, and you understand "
             u"the consequences."_s);
    QCOMPARE(formatText(Strings::renamingProgress(), "Old", "New"), u"Renaming Old to New..."_s);
    QCOMPARE(formatText(Strings::upgradeWarningMessage(), "Vantrel", "2.0", "Vantrel", "1.4"),
             u"Your Vantrel version is too new. Opening it will trigger a non-backwards "
             u"compatible upgrade.\n\nEither continue, and have your collaborators upgrade to "
             u"2.0, or downgrade Vantrel to 1.4."_s);
}

void StringsTest::translatorsAreFollowedOnEveryRead()
{
    // Read before the translator comes.
    QCOMPARE(Strings::trashTitle(), u"Trash"_s);

    TableTranslator translator({
        {u"Trash"_s, u"Corbeille"_s},
        {u"Discard"_s, u"Abandonner"_s},
        {u"Used in: %@"_s, u"Utilisé dans : %@"_s},
    });
    QVERIFY(QCoreApplication::installTranslator(&translator));
    auto uninstall = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    QCOMPARE(Strings::trashTitle(), u"Corbeille"_s);
    QCOMPARE(formatText(Strings::usedInList(), "Projet"), u"Utilisé dans : Projet"_s);
    // The key is the English text alone, never its translator comment: texts with the same
    // English text share one translation.
    QCOMPARE(Strings::discardChangesTitle(), u"Abandonner"_s);
    QCOMPARE(Strings::discardButtonTitle(), u"Abandonner"_s);
    QCOMPARE(Strings::openAtticActionTitle(), u"Open Attic"_s);

    uninstall.dismiss();
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(Strings::trashTitle(), u"Trash"_s);
}

void StringsTest::descriptionTextsAreLookedUpOnEveryCall()
{
    QCOMPARE(Strings::newLibraryNamePlaceholder(u"Library"_s), u"Enter a name for a new Library"_s);
    QCOMPARE(Strings::newLibraryActionTitle(u"Library %@"_s), u"New Library %@"_s);
    QCOMPARE(Strings::newEventActionTitle(u"Event"_s), u"New Event"_s);
    QCOMPARE(Strings::newEventNamePlaceholder(u"Event"_s), u"Enter a name for a new Event."_s);
    QCOMPARE(Strings::newEventCreateButton(u"Évènement"_s), u"Create Évènement"_s);

    TableTranslator translator({
        {u"New %@"_s, u"Nouvelle %@"_s},
        {u"New Event"_s, u"Nouvel évènement"_s},
        {u"Enter a name for a new Event."_s, u"Nommez le nouvel évènement."_s},
        {u"Create Évènement"_s, u"Créer l’évènement"_s},
    });
    QVERIFY(QCoreApplication::installTranslator(&translator));
    const auto uninstall = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    QCOMPARE(Strings::newLibraryActionTitle(u"bibliothèque"_s), u"Nouvelle bibliothèque"_s);
    QCOMPARE(Strings::newEventActionTitle(u"Event"_s), u"Nouvel évènement"_s);
    QCOMPARE(Strings::newEventNamePlaceholder(u"Event"_s), u"Nommez le nouvel évènement."_s);
    QCOMPARE(Strings::newEventCreateButton(u"Évènement"_s), u"Créer l’évènement"_s);
    // A description without a translation of its joined key stays English.
    QCOMPARE(Strings::newEventActionTitle(u"Project"_s), u"New Project"_s);
}

QTEST_GUILESS_MAIN(StringsTest)

#include "strings_test.moc"
