#include "model/name_order.h"

namespace vantrel {

NameKey::NameKey(const QString& name) : m_codePoints(name.normalized(QString::NormalizationForm_C).toUcs4()) {}

bool precedesByName(const QString& a, const QString& b)
{
    return NameKey(a) < NameKey(b);
}

} // namespace vantrel
