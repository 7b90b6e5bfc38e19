#include "views/presenters/package_file_dialog.h"

#include "actions/file_importer.h"

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
    if (!m_chosen.isEmpty() || choosePackageAmong(selectedFiles()))
        return;
    QFileDialog::accept();
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
