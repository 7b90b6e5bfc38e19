#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <functional>

namespace vantrel {

// Keeps a window's dialog in step with an interface model: whenever the model changes, the dialog
// showing is closed and `open` shows the one the model now asks for (or nothing). The dialog's
// own way of closing tells the model (see alert_box.h, confirmation_box.h, file_import_dialog.h);
// a dialog closed here because the model moved on does not.
class DialogPresenter final : public QObject {
    Q_OBJECT
public:
    // Opens the dialog for what the model holds now; null when it holds nothing to show.
    using Open = std::function<QDialog*()>;

    template<typename Model, typename Signal>
    DialogPresenter(Model* model, Signal changed, Open open, QObject* parent = nullptr)
        : QObject(parent),
          m_open(std::move(open))
    {
        connect(model, changed, this, &DialogPresenter::refresh);
        refresh();
    }
    ~DialogPresenter() override;

    // While disabled nothing shows; what the model holds waits until it is enabled again.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    QDialog* dialog() const { return m_dialog; }

    // Shows what the model asks for now.
    void refresh();

private:
    void closeDialog();

    Open m_open;
    bool m_enabled = true;
    QPointer<QDialog> m_dialog;
};

} // namespace vantrel
