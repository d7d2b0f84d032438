#include "core/catalog.h"
#include "menus/drag_monitor.h"
