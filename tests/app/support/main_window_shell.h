#pragma once

// The main window over a team setup with its own interface models, settings in memory and the
// engine on disk, for the tests of the application shell and the pictures of the README.

#include "app/main_window.h"
#include "desktop/system_services.h"
#include "engine/team_bundle.h"
#include "model/key_value_storage.h"
#include "open_team/team_setup.h"
#include "packages/components/app_info.h"
#include "views/team/team_window.h"

#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace vantrel::testing {

struct Shell {
    // `storedPath`: the team bundle the settings name, which the window opens by itself.
    explicit Shell(std::optional<QString> storedPath = std::nullopt)
    {
        if (storedPath)
            storage->set(*storedPath, TeamBundle::pathStorageKey);
        setup = std::make_unique<TeamSetup>(
            QStringLiteral("vantrel"), [](const QUrl&) { return completedTask(); }, &alert, &sheet, &confirmation,
            &progress, storage, &importer, files, workspace);
        window = std::make_unique<MainWindow>(new TeamWindow(setup.get(), AppInfo::shared().icon()), storage,
                                              MainWindow::Commands{[this] { ++quits; }, [this] { ++abouts; }});
    }

    TeamWindow& content() const { return *window->content(); }

    QTemporaryDir local;
    std::shared_ptr<KeyValueStoragePreview> storage = std::make_shared<KeyValueStoragePreview>();
    std::shared_ptr<FileManaging> files = std::make_shared<SystemFileManager>(
        local.filePath("data"), local.filePath("cache"), local.filePath("downloads"));
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    AlertModel alert;
    SheetModel sheet;
    ConfirmationDialogModel confirmation;
    ToolbarProgressIndicator progress;
    FileImporter importer;
    std::unique_ptr<TeamSetup> setup;
    std::unique_ptr<MainWindow> window;
    int quits = 0;
    int abouts = 0;
};

} // namespace vantrel::testing
