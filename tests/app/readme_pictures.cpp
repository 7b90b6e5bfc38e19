// Writes the README's pictures as PNG files into the folder given as the only argument (docs/ by
// default): the main window over a film crew's team bundle (a collection with its documents, a
// library's events and its activity), the check-in panel, the add-existing sheet, the trash and
// the first onboarding page. Runs on the offscreen platform, with a home of its own.
//   readme_pictures [folder]

#include "actions/selected_item_commands.h"
#include "app/onboarding_scene.h"
#include "app/support/main_window_shell.h"
#include "design/dark_theme.h"
#include "model/support/item_test_support.h"
#include "views/detail/activity_feed.h"
#include "views/detail/activity_list_model.h"
#include "views/detail/add_existing_version_bundle_view.h"
#include "views/detail/check_in_view.h"
#include "views/detail/trash_manager_view.h"
#include "views/detail/trash_table_model.h"
#include "views/presenters/dialog_presenter.h"

#include <QApplication>
#include <QDialog>
#include <QListView>
#include <QPlainTextEdit>
#include <QTest>

#include <cstdio>
#include <stdexcept>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

const QSize windowSize{1280, 720};

// Stops the program with `what` when `ready` does not come true in time.
void waitFor(const char* what, const std::function<bool()>& ready)
{
    if (!QTest::qWaitFor(ready, 30000))
        throw std::runtime_error(std::string("gave up waiting for ") + what);
}

// Lets layouts, fades and lists settle before a picture.
void settle()
{
    QTest::qWait(900);
}

void save(QWidget& widget, const QDir& folder, const QString& name)
{
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    if (!widget.grab().save(path))
        throw std::runtime_error("cannot write " + path.toStdString());
    std::printf("%s\n", qPrintable(path));
}

// A team bundle that two editors, Maya (on her laptop) and Jonas, have worked in.
struct FilmCrew {
    QTemporaryDir folder;
    QString root = folder.filePath(QStringLiteral("Northlight Films.vantrelteam"));
    std::shared_ptr<TeamBundle> maya;
    std::shared_ptr<TeamBundle> jonas;
    ItemSelection opened; // the library the window shows first

    FilmCrew()
    {
        maya =
            TeamBundle::create(root, files(QStringLiteral("maya")), std::make_shared<RecordingWorkspace>(),
                               {QStringLiteral("CLIENT-MAYA-LAPTOP"),
                                {QStringLiteral("maya"), QStringLiteral("Maya Berg"), QStringLiteral("maya-laptop")}});
        jonas =
            TeamBundle::open(root, files(QStringLiteral("jonas")), std::make_shared<RecordingWorkspace>(),
                             {QStringLiteral("CLIENT-JONAS"),
                              {QStringLiteral("jonas"), QStringLiteral("Jonas Okafor"), QStringLiteral("edit-bay-3")}});

        const auto film = newCollection(maya, QStringLiteral("Feature Film"));
        syncWait(film->createNestedItem(library(QStringLiteral("Harbour Lights"),
                                                {QStringLiteral("Day 01 Harbour"), QStringLiteral("Day 02 Lighthouse"),
                                                 QStringLiteral("Day 03 Night Market"), QStringLiteral("Pickups")})));
        for (const char* name :
             {"Trailer Cut.kdenlive", "Opening Titles.kdenlive", "Score Sketches.ardour", "Shooting Script.pdf"})
            syncWait(film->createNestedItem(file(QString::fromUtf8(name))));
        const auto commercials = newCollection(maya, QStringLiteral("Commercials"));
        syncWait(commercials->createNestedItem(file(QStringLiteral("Ferry Spot 30s.kdenlive"))));
        const auto promos = newCollection(jonas, QStringLiteral("Festival Promos"));
        syncWait(promos->createNestedItem(file(QStringLiteral("Teaser v1.kdenlive"))));

        // The library's history, by both editors.
        opened = {film->id(), findDocument(film, QStringLiteral("Harbour Lights"))->id(), std::nullopt};
        revise(jonas, *opened.document, QStringLiteral("Synced the second-unit audio"));
        revise(maya, *opened.document, QStringLiteral("Rough cut of the harbour chase"));
        revise(jonas, *opened.document, QStringLiteral("Added Tuesday's pickups to the night market scene"));
        revise(maya, *opened.document, QStringLiteral("Replaced the temp music in reel 2"));

        // The trash: an old collection and a draft nobody uses.
        const auto drafts = newCollection(jonas, QStringLiteral("Old Drafts"));
        syncWait(drafts->versioningService()->removeOrDelete(nullptr, &s3Factory));
        syncWait(promos->createNestedItem(file(QStringLiteral("Teaser v0 (rejected).kdenlive"))));
        const auto rejected = findDocument(promos, QStringLiteral("Teaser v0 (rejected)"));
        syncWait(rejected->versioningService()->removeOrDelete(promos->versioningService(), &s3Factory));
    }

    std::shared_ptr<FileManaging> files(const QString& user) const
    {
        const QString local = folder.filePath(QStringLiteral("local/") + user);
        return std::make_shared<SystemFileManager>(local + QStringLiteral("/data"), local + QStringLiteral("/cache"),
                                                   local + QStringLiteral("/downloads"));
    }
    QString scratch() const
    {
        static int made = 0;
        const QString path = folder.filePath(QStringLiteral("scratch/%1").arg(++made));
        QDir().mkpath(path);
        return path;
    }
    QString file(const QString& name) const
    {
        const QString path = scratch() + QLatin1Char('/') + name;
        writeFile(path, "<project/>");
        return path;
    }
    QString library(const QString& name, const QStringList& events) const
    {
        const QString path = scratch() + QLatin1Char('/') + name + QStringLiteral(".videolibrary");
        writeFile(path + QStringLiteral("/Settings.plist"), "settings");
        for (const QString& event : events)
            writeFile(path + QLatin1Char('/') + event + QStringLiteral(".videoevent/Info.plist"), event.toUtf8());
        return path;
    }
    // A check-out by `client`, a change, and a check-in with `message`.
    static void revise(const std::shared_ptr<TeamBundle>& client, const IdFor<VersionBundle>& id,
                       const QString& message)
    {
        const auto service = openAs(client, VersioningServiceType::document, id);
        const QString copy = syncWait(service->checkOut({}, {.autoSave = false}, &s3Factory));
        writeFile(QFileInfo(copy).isDir() ? copy + QStringLiteral("/Settings.plist") : copy, message.toUtf8());
        syncWait(service->checkIn(message, &s3Factory));
    }
};

std::shared_ptr<Collection> collectionNamed(Team& team, const QString& name)
{
    for (const auto& collection : team.collections().all()) {
        if (collection->name() == name)
            return collection;
    }
    return nullptr;
}

void onboardingPicture(const QDir& out)
{
    Shell shell;
    shell.content().setOnboardingFactory(&makeOnboardingScene);
    shell.window->show();
    waitFor("the onboarding", [&] { return shell.content().onboarding() != nullptr; });
    settle();
    save(*shell.window, out, QStringLiteral("onboarding"));
}

void teamPictures(const QDir& out)
{
    FilmCrew crew;
    Shell shell(crew.root);
    shell.window->show();
    waitFor("the team to load", [&] { return shell.setup->state().team() && shell.content().teamView(); });
    shell.window->resize(windowSize);
    Team& team = *shell.setup->state().team();
    NavigationModel& navigation = team.navigation();
    waitFor("the collections", [&] { return collectionNamed(team, QStringLiteral("Feature Film")) != nullptr; });

    // The collection, its library's events and the library's activity, opened as a link opens them
    // (after the window's own restoring of the last selection).
    navigation.restoreSelection(crew.opened, ContentViewFocus::documentList);
    const auto film = collectionNamed(team, QStringLiteral("Feature Film"));
    waitFor("the documents", [&] {
        return navigation.selectedCollection() == film && film->nestedItems().size() == 5
               && !film->isLoadingNestedItems();
    });
    const auto harbour = findDocument(film, QStringLiteral("Harbour Lights"));
    waitFor("the library", [&] { return navigation.selectedDocument() == harbour; });
    waitFor("the events", [&] { return harbour->nestedItems().size() == 4 && !harbour->isLoadingNestedItems(); });
    waitFor("the activity", [&] {
        const auto* feed = shell.window->findChild<ActivityFeed*>();
        return feed && feed->model().rowCount() >= 5 && !feed->shownRows().isEmpty();
    });
    settle();
    save(*shell.window, out, QStringLiteral("main_window"));

    // A project checked out, its change described in the check-in panel.
    const auto trailer = findDocument(film, QStringLiteral("Trailer Cut"));
    navigation.setSelectedDocument(trailer);
    syncWait(trailer->checkOut());
    navigation.setFocus(ContentViewFocus::checkinView);
    waitFor("the check-in panel", [&] {
        const auto* panel = shell.window->findChild<CheckInView*>();
        return panel && panel->isVisible() && panel->editor()->hasFocus();
    });
    QTest::keyClicks(shell.window->findChild<CheckInView*>()->editor(),
                     QStringLiteral("Tightened the opening titles and swapped the last shot for the drone take"));
    settle();
    save(*shell.window, out, QStringLiteral("check_in"));

    // Documents of the other collections offered to Commercials.
    const auto commercials = collectionNamed(team, QStringLiteral("Commercials"));
    navigation.setSelectedCollection(commercials);
    navigation.setFocus(ContentViewFocus::collectionList);
    SelectedItemCommands::addExisting(commercials, team.itemActions().addExistingItem());
    waitFor("the add-existing sheet", [&] {
        const QDialog* dialog = shell.content().sheetPresenter()->dialog();
        const auto* sheet = dialog ? dialog->findChild<AddExistingVersionBundleView*>() : nullptr;
        return sheet && !sheet->model()->loading() && sheet->list()->model()->rowCount() > 3;
    });
    QDialog* dialog = shell.content().sheetPresenter()->dialog();
    auto* sheet = dialog->findChild<AddExistingVersionBundleView*>();
    sheet->list()->setCurrentIndex(sheet->list()->model()->index(1, 0));
    settle();
    save(*dialog, out, QStringLiteral("add_existing"));
    dialog->reject();

    // The trash.
    navigation.setFocus(ContentViewFocus::trash);
    waitFor("the trash", [&] {
        const auto* trash = shell.window->findChild<TrashManagerView*>();
        return trash && trash->tableModel()->rowCount() == 2;
    });
    settle();
    save(*shell.window, out, QStringLiteral("trash"));
    syncWait(trailer->cancelCheckout());
}

// The applications a film crew has installed, as desktop entries and the user's defaults, so that
// the pictures show the documents' Open buttons as such a user sees them. Nothing is started.
void installApplications(const QString& dataHome, const QString& configHome)
{
    struct Application {
        const char* id;
        const char* name;
        QList<QByteArray> types;
    };
    const QList<Application> applications{
        {"kdenlive", "Kdenlive", {"application/x-kdenlive", "application/x-kdenlivetitle"}},
        {"ardour", "Ardour", {"application/x-ardour"}},
        {"okular", "Okular", {"application/pdf"}},
        {"files", "Files", {"inode/directory"}},
    };
    QByteArray defaults = "[Default Applications]\n";
    for (const Application& application : applications) {
        writeFile(dataHome + QStringLiteral("/applications/%1.desktop").arg(QLatin1String(application.id)),
                  QByteArray("[Desktop Entry]\nType=Application\nName=") + application.name
                      + "\nExec=true %f\nMimeType=" + application.types.join(';') + ";\n");
        for (const QByteArray& type : application.types)
            defaults += type + '=' + application.id + ".desktop\n";
    }
    writeFile(configHome + QStringLiteral("/mimeapps.list"), defaults);
}

} // namespace

int main(int argc, char** argv)
{
    // Settings, client ids and locks of its own, never the user's.
    QTemporaryDir home;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString folder = home.filePath(QLatin1String(name));
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv(name, folder.toLocal8Bit());
    }
    installApplications(home.filePath(QStringLiteral("XDG_DATA_HOME")),
                        home.filePath(QStringLiteral("XDG_CONFIG_HOME")));
    // The window is Maya's, at her edit bay.
    qputenv("VANTREL_USER_NAME", "maya");
    qputenv("VANTREL_FULL_NAME", "Maya Berg");
    qputenv("VANTREL_HOST_NAME", "edit-bay-1");
    qputenv("VANTREL_CLIENT_ID", "CLIENT-MAYA");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");

    QApplication app(argc, argv);
    design::applyDarkTheme(app);
    const QDir out(QCoreApplication::arguments().value(1, QStringLiteral("docs")));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot make the folder %s\n", qPrintable(out.path()));
        return 1;
    }
    try {
        onboardingPicture(out);
        teamPictures(out);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "readme_pictures: %s\n", error.what());
        return 1;
    }
    return 0;
}
