#pragma once

// A team opened over a real temporary team bundle, with the interface models a window hands it,
// for the tests of the team window's views.

#include "design/palette.h"
#include "model/key_value_storage.h"
#include "model/support/item_test_support.h"
#include "open_team/team.h"

#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QTest>
#include <QWidget>

namespace vantrel::testing {

struct OpenTeam {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> bundle = fixture.client(QStringLiteral("ana"));
    AlertModel alert;
    SheetModel sheet;
    ConfirmationDialogModel confirmation;
    FileImporter fileImporter;
    ToolbarProgressIndicator progress;
    QList<QUrl> opened; // what the team asked the desktop to open
    std::unique_ptr<Team> team;

    // `open` stands in for the desktop; by default everything opens and is recorded in `opened`.
    explicit OpenTeam(item_action::OpenURL open = {})
    {
        if (!open)
            open = [this](const QUrl& url) {
                opened << url;
                return completedTask();
            };
        team = std::make_unique<Team>(bundle, QStringLiteral("vantrel"), std::move(open), &alert, &sheet, &confirmation,
                                      &fileImporter, &progress, std::make_shared<KeyValueStoragePreview>());
    }
};

// Paints `widget` with the window background, as the team window does.
inline void windowBackground(QWidget& widget)
{
    widget.setAutoFillBackground(true);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, design::neutral(7));
    widget.setPalette(palette);
}

// Saves a picture of `widget` as <build>/screenshots/<name>.png for a reviewer.
inline void saveScreenshot(QWidget& widget, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QVERIFY(widget.grab().save(folder.filePath(name + QStringLiteral(".png"))));
}

// The same, with `dialog` drawn over the middle of `widget` as the window shows it.
inline void saveScreenshot(QWidget& widget, QWidget& dialog, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QPixmap picture = widget.grab();
    const QPixmap over = dialog.grab();
    QPainter painter(&picture);
    painter.drawPixmap((picture.width() - over.width()) / 2, (picture.height() - over.height()) / 2, over);
    painter.end();
    QVERIFY(picture.save(folder.filePath(name + QStringLiteral(".png"))));
}

} // namespace vantrel::testing
