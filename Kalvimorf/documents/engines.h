#pragma once

// Installs this folder's engines behind the core's DocumentEngines. The program's entry point and
// the test main call it before any conversion.
namespace Documents {
void install();
}
