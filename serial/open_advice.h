#pragma once

#include <cstddef>

#include "serial/port_driver.h"

namespace updater {

// What the operator reads about a port that exists but would not open: what stands in the way and
// what to do, in the chosen language (model/localized.h), or in Spanish when `localized` is false
// (Windows-1252 either way), ending in a line feed. A path too long for `capacity` is
// cut at its start, so that the device's own name and the advice stay whole. Returns the length
// written; 0 and an empty text for the causes the operator can do nothing about (absent, no
// serial port, other).
std::size_t FormatOpenAdvice(const OpenError& error, char* out, std::size_t capacity,
                             bool localized = true);

}  // namespace updater
