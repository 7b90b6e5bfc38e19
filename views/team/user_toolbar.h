#pragma once

#include <QWidget>

class QLabel;

namespace vantrel {

// Who works in which team, at the end of the team window's toolbar: an avatar disc with a flask,
// the user's full name and, below it in smaller type, the team's name. Hovering it lights its
// background.
class UserToolbar final : public QWidget {
    Q_OBJECT
public:
    // Both names are shown as they stand.
    UserToolbar(const QString& teamName, const QString& fullUserName, QWidget* parent = nullptr);

    QLabel* userNameLabel() const { return m_userName; }
    QLabel* teamNameLabel() const { return m_teamName; }
    bool isHovered() const { return m_hover; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_userName;
    QLabel* m_teamName;
    bool m_hover = false;
};

} // namespace vantrel
