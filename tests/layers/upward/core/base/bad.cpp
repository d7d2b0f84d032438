#include "core/base/catalog.h"
#include "menus/drag_monitor.h"
