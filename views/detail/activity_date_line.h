#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>

#include <optional>

class QHBoxLayout;
class QLabel;

namespace vantrel {

class Tag;

// `date` in local time, abbreviated: "Mar 14, 2026, 9:30 AM" in American English.
QString abbreviatedDateTime(const QDateTime& date);

// The last line of an activity row: the timeline's segment, then "<date> • <host>" on one
// selectable line (how long ago, as its tooltip), and, when a version is set, " • " and the
// version as a tag.
class ActivityDateLine final : public QWidget {
    Q_OBJECT
public:
    ActivityDateLine(const QDateTime& date, const QString& hostName, QWidget* parent = nullptr);

    // Shows `version` as the tag; nothing for none or an empty text.
    void setVersion(const std::optional<QString>& version);
    std::optional<QString> version() const;

    QLabel* dateLabel() const { return m_date; }
    Tag* tag() const { return m_tag; }

private:
    QHBoxLayout* m_texts = nullptr;
    QLabel* m_date = nullptr;
    QLabel* m_separator = nullptr;
    Tag* m_tag = nullptr;
};

} // namespace vantrel
