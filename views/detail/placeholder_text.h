#pragma once

#include <QWidget>

class QLabel;

namespace vantrel {

// The message shown in place of a list with nothing to show: the text, as given, in the
// vertical middle of whatever space the caller gives it.
class PlaceholderText final : public QWidget {
    Q_OBJECT
public:
    explicit PlaceholderText(const QString& string, QWidget* parent = nullptr);

    QString string() const;
    void setString(const QString& string);

private:
    QLabel* m_label;
};

} // namespace vantrel
