#include "foundation/error.h"

#include <QTest>

#include <stdexcept>

using namespace vantrel;

namespace {

class LockedError : public Error {
public:
    explicit LockedError(QString holder)
        : Error(QStringLiteral("The document is locked."), QStringLiteral("Held by ") + holder),
          holder(std::move(holder))
    {
    }
    QString holder;

protected:
    QString typeName() const override { return QStringLiteral("LockedError"); }
};

} // namespace

class ErrorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void errorKeepsItsDynamicTypeThroughAnExceptionPointer()
    {
        std::shared_ptr<const Error> error;
        try {
            throw LockedError(QStringLiteral("Ana"));
        } catch (...) {
            error = errorFrom(std::current_exception());
        }
        const auto* locked = dynamic_cast<const LockedError*>(error.get());
        QVERIFY(locked);
        QCOMPARE(locked->holder, QStringLiteral("Ana"));
        QCOMPARE(error->localizedDescription(), QStringLiteral("The document is locked."));
        QCOMPARE(error->failureReason(), QStringLiteral("Held by Ana"));
        QCOMPARE(QString::fromUtf8(error->what()), QStringLiteral("The document is locked."));
        QCOMPARE(
            error->debugDescription(),
            QStringLiteral("LockedError(description: \"The document is locked.\", failureReason: \"Held by Ana\")"));
    }

    void foreignExceptionsBecomeUnexpectedErrors()
    {
        std::shared_ptr<const Error> fromStd;
        try {
            throw std::runtime_error("disk on fire");
        } catch (...) {
            fromStd = errorFrom(std::current_exception());
        }
        QVERIFY(dynamic_cast<const UnexpectedError*>(fromStd.get()));
        QCOMPARE(fromStd->failureReason(), QStringLiteral("disk on fire"));
        QCOMPARE(fromStd->localizedDescription(), QStringLiteral("Something unexpected happened."));

        std::shared_ptr<const Error> fromAnything;
        try {
            throw 42;
        } catch (...) {
            fromAnything = errorFrom(std::current_exception());
        }
        QVERIFY(dynamic_cast<const UnexpectedError*>(fromAnything.get()));
        QVERIFY(errorFrom(nullptr));
    }
};

QTEST_GUILESS_MAIN(ErrorTest)
#include "error_test.moc"
