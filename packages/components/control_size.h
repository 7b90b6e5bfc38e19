#pragma once

namespace vantrel {

// How large a control is drawn, from the smallest to the largest.
enum class ControlSize { mini, small, regular, large };

} // namespace vantrel
