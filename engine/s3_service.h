#pragma once

#include <QCoroTask>

#include <functional>
#include <memory>

namespace vantrel {

// Where a remote store would live. Bundles are kept on the shared folder itself, so the
// location carries nothing today; every operation that could reach a remote store takes a
// factory, so that one can be put behind it without changing the callers.
struct S3Location {};

class S3Service {
public:
    virtual ~S3Service() = default;
};

using S3Factory = std::function<QCoro::Task<std::shared_ptr<S3Service>>(S3Location)>;

// The factory handed to every engine call: it ignores the location and makes a new service.
inline S3Factory defaultS3Factory()
{
    return [](S3Location) -> QCoro::Task<std::shared_ptr<S3Service>> { co_return std::make_shared<S3Service>(); };
}

} // namespace vantrel
