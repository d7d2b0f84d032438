#pragma once

// The tray program's side of the office route and its component: the simple-route notice, and
// what a job left out (JobNotes), become information rows of the job store, a wish for the
// component reaches its installer, the installer's runs show as jobs. The tray program's start-up
// asks for the component itself, in its place among the other start-up steps.
namespace OfficeNotices {
void install();
}
