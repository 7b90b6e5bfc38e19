#include "app/application_entry.h"

#include <QTest>

using namespace vantrel;

class ApplicationEntryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void displayIsRequired()
    {
        QProcessEnvironment none;
        const auto reason = missingDisplayReason(none);
        QVERIFY(reason);
        QVERIFY(!reason->contains(QLatin1Char('\n')));

        QProcessEnvironment blank;
        blank.insert(QStringLiteral("DISPLAY"), QStringLiteral("  "));
        QVERIFY(missingDisplayReason(blank));

        for (const auto* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            QProcessEnvironment set;
            set.insert(QLatin1String(name), QStringLiteral(":1"));
            QVERIFY2(!missingDisplayReason(set), name);
        }
    }
};

QTEST_MAIN(ApplicationEntryTest)
#include "application_entry_test.moc"
