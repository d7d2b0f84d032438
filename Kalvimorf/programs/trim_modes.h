#pragma once

// The trim editor's scripted scenarios, on the X display.
namespace TrimModes {
// --play-test <seconds> <multi|…> <file>: opens the editor, seeks once the file is read, plays and prints
// what the playhead did.
[[noreturn]] void playTest();
// --render-trim <out.png> <file>...: opens the editor and 6 s later writes its content at scale 1;
// with DEMO_SEGMENTS set, three demonstration ranges first.
[[noreturn]] void renderTrim();
// The editor's colours follow the card themes.
void installLook();
}
