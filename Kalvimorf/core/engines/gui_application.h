#pragma once

// Fonts, text layout and the drawing of text need a GUI application: Qt ends the process the
// first time a font is looked up without one. Workers and tests run without any, so what lays
// out or draws text (documents, drawings with text) gets an offscreen one the first time.
namespace GuiApplication {
// Throws ConversionError::unsupported when another kind of application already runs.
void require();
}
