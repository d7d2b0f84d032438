#pragma once

// The command-line modes that run maintenance work without any window.
namespace MaintenanceModes {
// --diagnostics: prints the problem report's diagnostics block.
[[noreturn]] void diagnostics();
// --check-updates: one check against the manifest, then "atual: …" and the release offered.
[[noreturn]] void checkUpdates();
}
