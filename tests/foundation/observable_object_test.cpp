#include "foundation/observable_object.h"

#include <QSignalSpy>
#include <QTest>

using namespace vantrel;

namespace {

class Sample : public ObservableObject {
    Q_OBJECT
public:
    Published<QString> name{this, &Sample::nameChanged, QStringLiteral("Untitled")};
    Published<bool> busy{this, &Sample::busyChanged};
Q_SIGNALS:
    void nameChanged();
    void busyChanged();
};

} // namespace

class ObservableObjectTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void willChangeComesBeforeEveryWriteAndChangeAfter()
    {
        Sample sample;
        QStringList events;
        connect(&sample, &Sample::objectWillChange, this, [&] { events << QStringLiteral("will:") + sample.name(); });
        connect(&sample, &Sample::nameChanged, this, [&] { events << QStringLiteral("did:") + sample.name(); });

        sample.name = QStringLiteral("Trailer");
        sample.name.set(QStringLiteral("Trailer")); // equal writes are announced too
        QCOMPARE(events, (QStringList{QStringLiteral("will:Untitled"), QStringLiteral("did:Trailer"),
                                      QStringLiteral("will:Trailer"), QStringLiteral("did:Trailer")}));
    }

    void eachFieldSignalsOnlyItsOwnChange()
    {
        Sample sample;
        QSignalSpy names(&sample, &Sample::nameChanged);
        QSignalSpy busy(&sample, &Sample::busyChanged);
        QSignalSpy any(&sample, &Sample::objectWillChange);
        QCOMPARE(sample.busy(), false);
        sample.busy = true;
        QCOMPARE(busy.count(), 1);
        QCOMPARE(names.count(), 0);
        QCOMPARE(any.count(), 1);
        QCOMPARE(sample.busy(), true);
    }
};

QTEST_GUILESS_MAIN(ObservableObjectTest)
#include "observable_object_test.moc"
