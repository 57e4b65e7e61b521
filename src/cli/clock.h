// Wall-clock time in whole seconds, rounded to the nearest second.
#pragma once

#include <cstdint>

std::int64_t now_seconds();
