#pragma once

#include <QString>
#include <QWidget>

#include <optional>

namespace vantrel {

// The symbols of activities, by the symbol names of design::IconProvider.
enum class ActivityIconType { version, editing, locked, status, restored };

QString symbolName(ActivityIconType type);
// Only the exact symbol names of the five types give a type.
std::optional<ActivityIconType> activityIconType(const QString& symbolName);

// The round mark at the start of an activity's first line, 28 by 28, on the timeline: the
// symbol inside a ring (a new version's ring and disc in the brand colour), or, for an
// activity without a symbol, a small ring threaded on the timeline's line.
class ActivitySymbol final : public QWidget {
    Q_OBJECT
public:
    static constexpr int side = 28;

    explicit ActivitySymbol(std::optional<ActivityIconType> type, QWidget* parent = nullptr);

    std::optional<ActivityIconType> iconType() const { return m_type; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<ActivityIconType> m_type;
};

} // namespace vantrel
