#pragma once

// The tray program's side of the office route and its component: the simple-route notice becomes
// an information row of the job store, a wish for the component reaches its installer, the
// installer's runs show as jobs, and the component is asked for once the program has started.
namespace OfficeNotices {
void install();
}
