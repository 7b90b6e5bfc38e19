#include "views/presenters/package_file_dialog.h"

#include "actions/file_importer.h"
#include "model/strings.h"
#include "views/presenters/message_boxes.h"

#include <QFileInfo>

#include <QHeaderView>
#include <QTreeView>

namespace vantrel {

PackageFileDialog::PackageFileDialog(QStringList packagePatterns, QWidget* parent)
    : QFileDialog(parent),
      m_packagePatterns(std::move(packagePatterns))
{
    // Opening a package (a double-click, or Enter in the list of files) browses into it: that
    // chooses it instead. Enter then presses the default button as well, which finds it chosen.
    connect(this, &QFileDialog::directoryEntered, this, [this](const QString& folder) {
        if (isVisible() && m_chosen.isEmpty())
            choosePackageAmong({folder});
    });
}

QUrl PackageFileDialog::chosenUrl() const
{
    if (!m_chosen.isEmpty())
        return m_chosen;
    const QList<QUrl> urls = selectedUrls();
    return urls.isEmpty() ? QUrl() : urls.first();
}

void PackageFileDialog::accept()
{
    // The selected entries, or the typed path, as the dialog reads them (the desktop's own
    // dialog answers with its choice here as well). The dialog itself would enter a folder.
    if (!m_chosen.isEmpty())
        return;
    const QStringList chosen = selectedFiles();
    // Qt's own dialog takes a quoted list of names typed in even when it chooses one file, and
    // answers with the first alone: the others would be dropped without a word. It stays open.
    if (fileMode() != QFileDialog::ExistingFiles && chosen.size() > 1) {
        QStringList names;
        for (const QString& path : chosen)
            names << QFileInfo(path).fileName();
        makeMessageBox(this, Strings::chooseOnlyOneTitle(), Strings::chooseOnlyOneMessage(names), {}, {})->open();
        return;
    }
    if (choosePackageAmong(chosen))
        return;
    QFileDialog::accept();
}

void PackageFileDialog::showEvent(QShowEvent* event)
{
    QFileDialog::showEvent(event);
    // Qt's own dialog gives its columns fixed widths, which cut the dates short: they take
    // what they need and the name column takes what is left. (The desktop's dialog has no
    // such view.)
    if (auto* details = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }
}

bool PackageFileDialog::choosePackageAmong(const QStringList& paths)
{
    for (const QString& path : paths) {
        const QString package = packageContaining(path, m_packagePatterns);
        if (!package.isEmpty()) {
            m_chosen = QUrl::fromLocalFile(package);
            QDialog::accept();
            return true;
        }
    }
    return false;
}

} // namespace vantrel
