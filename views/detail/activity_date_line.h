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
// version as a tag, padded by 4 above and below. A line too narrow for a long host name ends
// it in an ellipsis.
class ActivityDateLine final : public QWidget {
    Q_OBJECT
public:
    ActivityDateLine(const QDateTime& date, const QString& hostName, QWidget* parent = nullptr);

    // The line's height with and without a tag, from the widget font `base`.
    static int heightFor(bool withTag, const QFont& base);

    // Shows `version` as the tag; nothing for none or an empty text.
    void setVersion(const std::optional<QString>& version);
    std::optional<QString> version() const;

    QLabel* dateLabel() const { return m_date; }
    // The date and host in full, as shown when there is room.
    QString dateText() const { return m_text; }
    Tag* tag() const { return m_tag; }
    QWidget* badge() const { return m_badge; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void elide();

    QString m_text;
    QLabel* m_date = nullptr;
    QWidget* m_badge = nullptr;
    QHBoxLayout* m_badgeLayout = nullptr;
    Tag* m_tag = nullptr;
};

} // namespace vantrel
