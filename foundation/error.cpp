#include "foundation/error.h"

#include <QCoreApplication>

namespace vantrel {

Error::Error(QString localizedDescription, std::optional<QString> failureReason,
             std::optional<QString> recoverySuggestion, std::optional<QString> helpAnchor)
    : m_localizedDescription(std::move(localizedDescription)),
      m_failureReason(std::move(failureReason)),
      m_recoverySuggestion(std::move(recoverySuggestion)),
      m_helpAnchor(std::move(helpAnchor)),
      m_what(m_localizedDescription.toUtf8())
{
}

Error::~Error() = default;

QString Error::localizedDescription() const
{
    return m_localizedDescription;
}
std::optional<QString> Error::failureReason() const
{
    return m_failureReason;
}
std::optional<QString> Error::recoverySuggestion() const
{
    return m_recoverySuggestion;
}
std::optional<QString> Error::helpAnchor() const
{
    return m_helpAnchor;
}

QString Error::typeName() const
{
    return QStringLiteral("Error");
}

QString Error::debugDescription() const
{
    QString text = typeName() + QStringLiteral("(description: \"") + localizedDescription() + QLatin1Char('"');
    const auto add = [&text](const char* label, const std::optional<QString>& value) {
        if (value)
            text += QStringLiteral(", ") + QLatin1String(label) + QStringLiteral(": \"") + *value + QLatin1Char('"');
    };
    add("failureReason", failureReason());
    add("recoverySuggestion", recoverySuggestion());
    add("helpAnchor", helpAnchor());
    return text + QLatin1Char(')');
}

const char* Error::what() const noexcept
{
    return m_what.constData();
}

UnexpectedError::UnexpectedError(const QString& detail)
    : Error(QCoreApplication::translate("Strings", "Something unexpected happened."), detail)
{
}

QString UnexpectedError::typeName() const
{
    return QStringLiteral("UnexpectedError");
}

std::shared_ptr<const Error> errorFrom(std::exception_ptr failure)
{
    if (!failure)
        return std::make_shared<UnexpectedError>(QStringLiteral("No failure was recorded."));
    try {
        std::rethrow_exception(failure);
    } catch (const Error& error) {
        // The exception object lives as long as an exception_ptr refers to it (libstdc++ rethrows
        // the object itself, no copy), so keep the pointer alive next to the reference.
        auto holder = std::make_shared<std::exception_ptr>(failure);
        return std::shared_ptr<const Error>(holder, &error);
    } catch (const std::exception& other) {
        return std::make_shared<UnexpectedError>(QString::fromUtf8(other.what()));
    } catch (...) {
        return std::make_shared<UnexpectedError>(QStringLiteral("An unknown exception was thrown."));
    }
}

} // namespace vantrel
