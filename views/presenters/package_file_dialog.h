#pragma once

#include <QFileDialog>
#include <QStringList>
#include <QUrl>

namespace vantrel {

// A file dialog in which a folder kept as one document (a team bundle, a video library) is
// chosen the way a file is: by selecting it and pressing Open or Enter, by typing its path, or by
// opening it. Anything chosen inside such a folder stands for the folder.
//
// It has no Q_OBJECT of its own on purpose: Qt hands a dialog to the desktop's own file chooser
// only when its meta-object is QFileDialog's, and this class needs no signals or properties.
class PackageFileDialog final : public QFileDialog {
public:
    // `packagePatterns` are name patterns of the folders kept as one document ("*.vantrelteam").
    PackageFileDialog(QStringList packagePatterns, QWidget* parent);

    // What the user chose; valid once the dialog was accepted.
    QUrl chosenUrl() const;

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Accepts with the package one of `paths` is or lies in; false when none is in one.
    bool choosePackageAmong(const QStringList& paths);

    QStringList m_packagePatterns;
    QUrl m_chosen;
};

} // namespace vantrel
