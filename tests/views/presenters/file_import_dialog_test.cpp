// The file importer: its requests, the types its dialog gets, and how a presentation ends.

#include "views/presenters/file_import_dialog.h"

#include "../support/open_team.h"
#include "design/dark_theme.h"
#include "model/strings.h"

#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vantrel;

namespace {

// The entry `name` of the folder the widget dialog shows, once its list has read it.
QModelIndex entry(QFileDialog* dialog, const QString& name)
{
    auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
    auto* files = qobject_cast<QFileSystemModel*>(list->model());
    QModelIndex index;
    [&] { QTRY_VERIFY((index = files->index(dialog->directory().filePath(name))).isValid()); }();
    return index;
}

void selectEntry(QFileDialog* dialog, const QString& name)
{
    auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
    list->setFocus();
    list->setCurrentIndex(entry(dialog, name));
}

void pressOpen(QFileDialog* dialog)
{
    QPushButton* open = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
    QVERIFY(open && open->isEnabled());
    QTest::mouseClick(open, Qt::LeftButton);
}

void typePath(QFileDialog* dialog, const QString& path)
{
    auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    field->setFocus();
    field->setText(path);
    QTest::keyClick(field, Qt::Key_Return);
}

} // namespace

class FileImportDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void theDialogGetsNamedFiltersInOrder()
    {
        // A request that allows nothing still has a filter, one that shows no file.
        QCOMPARE(fileImporterNameFilters({}), QStringList{QStringLiteral("No Documents (/)")});
        QCOMPARE(fileImporterNameFilters({QStringLiteral("*.vantrelteam/")}),
                 QStringList{QStringLiteral("Team Bundles (*.vantrelteam)")});
        // Every allowed file first; the extensions of one type together under its name.
        QStringList filters = fileImporterNameFilters({QStringLiteral("*.kdenlive"), QStringLiteral("*.srt"),
                                                       QStringLiteral("*.vtt"), QStringLiteral("text/plain")});
        QCOMPARE(filters.size(), 4);
        QVERIFY2(filters[0].startsWith(QStringLiteral("All Supported Documents (*.kdenlive *.srt *.vtt *.txt")),
                 qPrintable(filters[0]));
        QCOMPARE(filters[1], QStringLiteral("Kdenlive Project (*.kdenlive)"));
        QCOMPARE(filters[2], QStringLiteral("Subtitle File (*.srt *.vtt)"));
        QVERIFY2(filters[3].contains(QStringLiteral("(*.txt")), qPrintable(filters[3]));
        // Where any file may be chosen, that is the first filter, once.
        filters =
            fileImporterNameFilters({QStringLiteral("*.videolibrary/"), QStringLiteral("*.qzx"), QStringLiteral("*")});
        QCOMPARE(filters,
                 (QStringList{QStringLiteral("All Files (*)"), QStringLiteral("Video Library (*.videolibrary)"),
                              QStringLiteral("QZX Files (*.qzx)")}));
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
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("Kdenlive Project (*.kdenlive)")});
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

    void aPackageIsChosenWithOpenOrEnterOrItsPath()
    {
        QTemporaryDir folder;
        const QString library = folder.filePath(QStringLiteral("Show.videolibrary"));
        const QString footage = folder.filePath(QStringLiteral("Footage"));
        QVERIFY(QDir().mkpath(library + QStringLiteral("/Day 1.videoevent")));
        QVERIFY(QDir().mkpath(footage));

        QWidget window;
        FileImporter importer;
        QStringList ran;
        const auto ask = [&] {
            importer.request({QStringLiteral("*.kdenlive"), QStringLiteral("*.videolibrary/")},
                             [&](QUrl url) { ran << url.toLocalFile(); });
            QPointer<QFileDialog> dialog = openFileImportDialog(&importer, {}, &window);
            dialog->setDirectory(folder.path());
            return dialog;
        };
        const auto list = [](QFileDialog* dialog) { return dialog->findChild<QListView*>(QStringLiteral("listView")); };

        QPointer<QFileDialog> dialog = ask();
        selectEntry(dialog, QStringLiteral("Show.videolibrary"));
        QTest::keyClick(list(dialog), Qt::Key_Return);
        QCOMPARE(ran, QStringList{library});
        QTRY_VERIFY(!dialog);

        dialog = ask();
        selectEntry(dialog, QStringLiteral("Show.videolibrary"));
        pressOpen(dialog);
        dialog = ask();
        typePath(dialog, QStringLiteral("Show.videolibrary"));
        QCOMPARE(ran, QStringList(3, library));
        QVERIFY(!importer.action());

        // An ordinary folder is browsed into, by Enter or by Open.
        dialog = ask();
        selectEntry(dialog, QStringLiteral("Footage"));
        QTest::keyClick(list(dialog), Qt::Key_Return);
        QTRY_COMPARE(dialog->directory().absolutePath(), footage);
        dialog->setDirectory(folder.path());
        selectEntry(dialog, QStringLiteral("Footage"));
        pressOpen(dialog);
        QTRY_COMPARE(dialog->directory().absolutePath(), footage);
        QVERIFY(dialog->isVisible());
        dialog->reject();

        // The desktop's own dialog may answer with something inside the library: it stands for it.
        importer.request({QStringLiteral("*.videolibrary/")}, [&](QUrl url) { ran << url.toLocalFile(); });
        makeFileImportCompletion(&importer, {})(QUrl::fromLocalFile(library + QStringLiteral("/Day 1.videoevent")));
        QCOMPARE(ran, QStringList(4, library));
    }

    void aTeamBundleIsChosenAmongFiles()
    {
        QTemporaryDir folder;
        const QString bundle = folder.filePath(QStringLiteral("Trailer.vantrelteam"));
        QVERIFY(QDir().mkpath(bundle));
        QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("Footage"))));

        QWidget window;
        FileImporter importer;
        QStringList ran;
        importer.request(
            {QStringLiteral("*.vantrelteam/")}, [&](QUrl url) { ran << url.toLocalFile(); },
            FileImporter::Purpose::openTeamBundle);
        QPointer<QFileDialog> dialog = openFileImportDialog(&importer, {}, &window);
        QCOMPARE(dialog->windowTitle(), Strings::openTeamBundleActionTitle());
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("Team Bundles (*.vantrelteam)")});
        dialog->setDirectory(folder.path());
        selectEntry(dialog, QStringLiteral("Trailer.vantrelteam"));
        // Ordinary folders stay listed, to be browsed.
        auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
        QTRY_COMPARE(list->model()->rowCount(list->rootIndex()), 2);
        dialog->resize(1150, 600);
        testing::saveScreenshot(*dialog, QStringLiteral("file_dialog_team_bundle"));
        pressOpen(dialog);
        QCOMPARE(ran, QStringList{bundle});
    }

    void severalNamesTypedInAreRefusedByName()
    {
        QTemporaryDir folder;
        for (const char* name : {"One.srt", "Two.srt", "Three.srt"})
            QVERIFY(QFile(folder.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly));

        // Two names are already too many; one is taken as ever.
        const QList<std::pair<QString, QString>> cases{
            {QStringLiteral("\"One.srt\" \"Two.srt\" \"Three.srt\""), QStringLiteral("One.srt, Two.srt, Three.srt")},
            {QStringLiteral("\"One.srt\" \"Two.srt\""), QStringLiteral("One.srt, Two.srt")},
            {QStringLiteral("Two.srt"), QString()}};
        for (const auto& [typed, named] : cases) {
            QWidget window;
            FileImporter importer;
            QStringList ran;
            importer.request({QStringLiteral("*.srt")}, [&](QUrl url) { ran << url.toLocalFile(); });
            QPointer<QFileDialog> dialog = openFileImportDialog(&importer, {}, &window);
            dialog->setDirectory(folder.path());
            dialog->show();
            typePath(dialog, typed);
            if (named.isEmpty()) {
                QCOMPARE(ran, QStringList{folder.filePath(QStringLiteral("Two.srt"))});
                continue;
            }
            QVERIFY(ran.isEmpty());
            QVERIFY(dialog && dialog->isVisible());
            QPointer<QMessageBox> box = dialog->findChild<QMessageBox*>();
            QVERIFY(box);
            QCOMPARE(box->text(), Strings::chooseOnlyOneTitle());
            QVERIFY2(box->informativeText().endsWith(named), qPrintable(box->informativeText()));
            box->accept();
            QTRY_VERIFY(!box);
            QVERIFY(dialog && dialog->isVisible());
        }
    }

    void dialogsStartInHomeOrTheLastFolderUsedForTheirKind()
    {
        QTemporaryDir folder;
        const QString exports = folder.filePath(QStringLiteral("Exports"));
        const QString cut = folder.filePath(QStringLiteral("Cut.kdenlive"));
        QVERIFY(QDir().mkpath(exports));
        QVERIFY(QFile(cut).open(QIODevice::WriteOnly));
        const QString working = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path())); // never where a dialog starts

        QWidget window;
        FileImporter importer;
        importer.setStorage(std::make_shared<KeyValueStoragePreview>());
        QStringList ran;
        const auto ask = [&](QStringList types, FileImporter::Purpose purpose) {
            importer.request(
                std::move(types), [&](QUrl url) { ran << url.toLocalFile(); }, purpose);
            return QPointer<QFileDialog>(openFileImportDialog(&importer, {}, &window));
        };
        const auto exportFolder = [&] { return ask({folderContentType}, FileImporter::Purpose::exportDestination); };

        QPointer<QFileDialog> dialog = ask({folderContentType}, FileImporter::Purpose::newTeamBundleLocation);
        QCOMPARE(dialog->windowTitle(), Strings::newTeamBundleLocationDialogTitle());
        dialog->reject();
        dialog = exportFolder();
        QCOMPARE(dialog->windowTitle(), Strings::exportDestinationDialogTitle());
        QCOMPARE(dialog->directory().absolutePath(), QDir::homePath());
        typePath(dialog, exports);
        QCOMPARE(ran, QStringList{exports});
        dialog = exportFolder(); // a folder chooser starts in the folder chosen
        QCOMPARE(dialog->directory().absolutePath(), exports);
        dialog->reject();

        dialog = ask({QStringLiteral("*.kdenlive")}, FileImporter::Purpose::importDocument);
        QCOMPARE(dialog->windowTitle(), Strings::importDocumentDialogTitle());
        typePath(dialog, cut);
        dialog = ask({QStringLiteral("*.kdenlive")}, FileImporter::Purpose::importDocument);
        QCOMPARE(dialog->directory().absolutePath(), folder.path()); // the folder of the file chosen
        dialog->reject();

        QVERIFY(QDir(exports).removeRecursively()); // gone since: home again
        dialog = exportFolder();
        QCOMPARE(dialog->directory().absolutePath(), QDir::homePath());
        dialog->reject();
        QCOMPARE(ran, (QStringList{exports, cut}));
        QVERIFY(QDir::setCurrent(working));
    }
};

QTEST_MAIN(FileImportDialogTest)
#include "file_import_dialog_test.moc"
