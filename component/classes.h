#pragma once

#include "frame/class_table.h"

#include <span>

namespace corvane {

// The six classes of the component.
std::span<const ComponentClass> component_classes();

}  // namespace corvane
