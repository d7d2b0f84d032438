#pragma once

// The tray program's side of the office route's events: the simple-route notice becomes an
// information row of the job store, and a wish for the office component reaches its installer.
namespace OfficeNotices {
void install();
}
