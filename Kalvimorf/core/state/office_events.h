#pragma once

#include "core/base/service.h"

#include <string>

// What the office route, deep inside a conversion, has to tell the desktop side: that a PDF came
// out of the simple route (shown once as an information row) and that it found no office
// component (the installer may start). In the tray program the job store receives them; in a
// worker they travel to the parent over the worker's channel; elsewhere nothing is installed and
// they go nowhere.
class OfficeEvents : public Service<OfficeEvents> {
public:
    virtual ~OfficeEvents() = default;
    // Called at most once per process, with the text for the user.
    virtual void simpleMode(const std::string& message) = 0;
    virtual void componentWanted() = 0;
};
