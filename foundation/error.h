#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <memory>
#include <optional>

namespace vantrel {

// The base of every failure in Vantrel. A failure reaches the user as an alert built from
// these fields, so the description is always a complete, localized sentence.
class Error : public std::exception {
public:
    explicit Error(QString localizedDescription, std::optional<QString> failureReason = std::nullopt,
                   std::optional<QString> recoverySuggestion = std::nullopt,
                   std::optional<QString> helpAnchor = std::nullopt);
    ~Error() override;

    Error(const Error&) = default;
    Error& operator=(const Error&) = default;

    virtual QString localizedDescription() const;
    virtual std::optional<QString> failureReason() const;
    virtual std::optional<QString> recoverySuggestion() const;
    virtual std::optional<QString> helpAnchor() const;
    // Names the kind of failure and its fields, for logs; never shown as the alert text.
    virtual QString debugDescription() const;

    const char* what() const noexcept override;

protected:
    // The type name used by debugDescription().
    virtual QString typeName() const;

private:
    QString m_localizedDescription;
    std::optional<QString> m_failureReason;
    std::optional<QString> m_recoverySuggestion;
    std::optional<QString> m_helpAnchor;
    QByteArray m_what;
};

// A failure that did not come as an Error (a standard exception, or anything else thrown).
class UnexpectedError : public Error {
public:
    explicit UnexpectedError(const QString& detail);

protected:
    QString typeName() const override;
};

// Turns whatever is held by `failure` into an Error that lives as long as the returned
// pointer. An Error keeps its dynamic type; anything else becomes an UnexpectedError.
std::shared_ptr<const Error> errorFrom(std::exception_ptr failure);

} // namespace vantrel
