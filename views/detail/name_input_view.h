#pragma once

#include "actions/sheets.h"

#include <QIcon>
#include <QWidget>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vantrel {

// The small sheet in which the user names something new (a team bundle, a collection, a library,
// an event) or gives an item a new name: the application icon, a title, an explanation for a new
// team, one field, Cancel and a confirm button, and a red line while the name holds a forbidden
// character. It knows nothing of what the name is for; whoever shows it acts on `confirmed`.
class NameInputView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int width = 330;

    // `invalidCharacters`: the characters a name may not hold; absent means any name will do.
    NameInputView(NameInput input, std::optional<QString> invalidCharacters, const QIcon& appIcon,
                  QWidget* parent = nullptr);

    QString title() const;
    QString placeholder() const;
    QString confirmTitle() const;

    QString name() const;
    // False while the name holds a forbidden character; checked on every edit only.
    bool isValidInput() const { return m_isValidInput; }
    // Whether the confirm button is enabled: a non-empty, valid name that, for a rename, differs
    // from the item's current name.
    bool canConfirm() const;

    QLineEdit* field() const { return m_field; }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }

Q_SIGNALS:
    // The name exactly as typed, untrimmed.
    void confirmed(const QString& name);
    void cancelled();

private:
    void validate(const QString& name);
    void refresh();

    const NameInput m_input;
    const std::optional<QString> m_invalidCharacters;
    bool m_isValidInput = true;
    QLineEdit* m_field = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_confirm = nullptr;
    QLabel* m_error = nullptr;
};

} // namespace vantrel
