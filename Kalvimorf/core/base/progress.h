#pragma once

#include <functional>

// A fraction 0…1 of work done; may be called from any thread. An empty one reports nothing.
using Progress = std::function<void(double)>;
