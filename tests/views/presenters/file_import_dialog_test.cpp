// The file importer: its requests, the types its dialog gets, and how a presentation ends.

#include "views/presenters/file_import_dialog.h"

#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>

using namespace vantrel;

namespace {

const QString workaround = QStringLiteral("*.bogus-workaround-to-enable-types");

} // namespace

class FileImportDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theDialogGetsTheTypesInOrderAndOneMore()
    {
        QCOMPARE(fileImporterNameFilters({}), QStringList{workaround});
        const QStringList filters =
            fileImporterNameFilters({QStringLiteral("*.kdenlive"), QStringLiteral("text/plain")});
        QCOMPARE(filters.size(), 3);
        QVERIFY2(filters[1].contains(QStringLiteral("*.txt")), qPrintable(filters[1]));
        QCOMPARE(filters.last(), workaround);
    }

    void onlyTheLastRequestRunsOnceAndLeavesTheImporterIdle()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Cut.kdenlive"));
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));

        QWidget window;
        FileImporter importer;
        QStringList ran;
        importer.request({QStringLiteral("*.blend")}, [&](QUrl) { ran << QStringLiteral("first"); });
        importer.request({QStringLiteral("*.kdenlive")}, [&](QUrl url) { ran << url.toLocalFile(); });
        QPointer<QFileDialog> dialog = openFileImportDialog(&importer, {}, &window);
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        // Every allowed type together first, then each on its own.
        QCOMPARE(dialog->nameFilters(),
                 (QStringList{QStringLiteral("*.kdenlive ") + workaround, QStringLiteral("*.kdenlive"), workaround}));
        dialog->setDirectory(folder.path());
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog.data())->accept(); // checks the file as pressing Open would
        QCOMPARE(ran, QStringList{path});
        QVERIFY(!importer.action());
    }

    void aRequestMadeWhileTheDialogShowsIsTheOneAnswered()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("Cut.kdenlive"));
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));

        QWidget window;
        FileImporter importer;
        QStringList ran;
        importer.request({QStringLiteral("*.kdenlive")}, [&](QUrl) { ran << QStringLiteral("first"); });
        QPointer<QFileDialog> dialog = openFileImportDialog(&importer, {}, &window);
        importer.request({QStringLiteral("*.kdenlive")},
                         [&](QUrl url) { ran << QStringLiteral("second ") + url.toLocalFile(); });
        dialog->setDirectory(folder.path());
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog.data())->accept();
        QCOMPARE(ran, QStringList{QStringLiteral("second ") + path});
        QVERIFY(!importer.action());

        // An action that asks for another file keeps its request.
        importer.request({QStringLiteral("*.kdenlive")}, [&](QUrl) {
            ran << QStringLiteral("chained");
            importer.request({folderContentType}, [&](QUrl) { ran << QStringLiteral("third"); });
        });
        dialog = openFileImportDialog(&importer, {}, &window);
        dialog->setDirectory(folder.path());
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog.data())->accept();
        QCOMPARE(ran.last(), QStringLiteral("chained"));
        QVERIFY(importer.action());
        QCOMPARE(importer.allowedContentTypes(), QStringList{folderContentType});
    }

    void foldersAndFoldersKeptAsOneDocument()
    {
        QTemporaryDir folder;
        const QString library = folder.filePath(QStringLiteral("Show.videolibrary"));
        QVERIFY(QDir().mkpath(library + QStringLiteral("/Day 1.videoevent")));

        QWidget window;
        FileImporter importer;
        QStringList ran;
        importer.request({QStringLiteral("*.kdenlive"), QStringLiteral("*.videolibrary/")},
                         [&](QUrl url) { ran << url.toLocalFile(); });
        QPointer<QFileDialog> dialog = openFileImportDialog(&importer, {}, &window);
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
        Q_EMIT dialog->directoryEntered(folder.path()); // an ordinary folder is only browsed
        QVERIFY(ran.isEmpty());
        Q_EMIT dialog->directoryEntered(library); // opening the library chooses it
        QCOMPARE(ran, QStringList{library});
        QVERIFY(!importer.action());
        QTRY_VERIFY(!dialog || !dialog->isVisible());

        // Folder mode; cancelling runs nothing and clears the request.
        importer.request({folderContentType}, [&](QUrl url) { ran << url.toLocalFile(); });
        dialog = openFileImportDialog(
            &importer, [&](const Error&) { ran << QStringLiteral("error"); }, &window);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(presentedFlag(&importer).get());
        dialog->reject();
        QCOMPARE(ran, QStringList{library});
        QVERIFY(!importer.action());
        QVERIFY(importer.allowedContentTypes().isEmpty());
    }
};

QTEST_MAIN(FileImportDialogTest)
#include "file_import_dialog_test.moc"
