#include "views/presenters/dialog_presenter.h"

namespace vantrel {

DialogPresenter::~DialogPresenter()
{
    closeDialog();
}

void DialogPresenter::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    refresh();
}

void DialogPresenter::closeDialog()
{
    QDialog* dialog = m_dialog;
    m_dialog = nullptr;
    // A dialog that is finishing by itself has told its model already; one that is still open
    // is closed quietly, without telling the model.
    if (!dialog || !dialog->isVisible())
        return;
    dialog->disconnect();
    dialog->close();
}

void DialogPresenter::refresh()
{
    closeDialog();
    if (!m_enabled)
        return;
    m_dialog = m_open();
    if (m_dialog)
        connect(m_dialog, &QDialog::finished, this, [this, dialog = m_dialog.data()] {
            if (m_dialog == dialog)
                m_dialog = nullptr;
        });
}

} // namespace vantrel
