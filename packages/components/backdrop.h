#pragma once

#include <QWidget>

#include <functional>

class QGridLayout;

namespace vantrel {

// Stacks optional content behind a widget: the content is built, and shown behind the front
// widget placed by `alignment`, only while the condition holds. While it does not, the content
// does not exist and the front widget is alone.
class Backdrop : public QWidget {
    Q_OBJECT
public:
    Backdrop(QWidget* front, bool condition, Qt::Alignment alignment, std::function<QWidget*()> content,
             QWidget* parent = nullptr);

    // Builds the content when the condition turns true and drops it when it turns false.
    void setCondition(bool condition);
    bool condition() const { return m_content != nullptr; }

    QWidget* front() const { return m_front; }
    // The content while the condition holds, else null.
    QWidget* content() const { return m_content; }

private:
    QGridLayout* m_layout;
    QWidget* m_front;
    QWidget* m_content = nullptr;
    Qt::Alignment m_alignment;
    std::function<QWidget*()> m_makeContent;
};

} // namespace vantrel
