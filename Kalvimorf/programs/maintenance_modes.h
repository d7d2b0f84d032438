#pragma once

// The command line's maintenance work without the interface.
namespace MaintenanceModes {
// --install-components: installs the office component and prints how it ended: "pronto:" and
// the suite's executable (exit 0), "falhou:" and the message (1), "aguardando internet" (2).
[[noreturn]] void installComponents();
// --diagnostics: prints the problem report's diagnostics block.
[[noreturn]] void diagnostics();
// --check-updates: one check against the manifest, then "atual: …" and the release offered.
[[noreturn]] void checkUpdates();
}
