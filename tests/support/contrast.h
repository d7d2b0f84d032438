#pragma once

// How readable drawn text is: the contrast of two colours as the web's accessibility guidelines
// measure it (1 to 21; 3 is the least for large or bold text), and of the text in a picture.

#include <QColor>
#include <QImage>
#include <QRect>

#include <string>
#include <vector>

class QWidget;

namespace TestSupport {

double contrast(const QColor& a, const QColor& b);
// A colour with some transparency as it shows over an opaque one.
QColor over(const QColor& top, const QColor& below);
// The contrast of the text in `box` of a picture with its background: the commonest colour in the
// box is the background, the pixel that stands out most is the ink.
double textContrast(const QImage& image, QRect box);
// The contrast of what a part adds to a picture: `with` and `without` are the same surface drawn
// with the part and without it; of each pixel in `box` the part changed, its contrast with what
// showed there without the part, the most.
double addedContrast(const QImage& with, const QImage& without, QRect box);
// The lines of drawn text in `box`, top to bottom: bands of rows with some pixel unlike the box's
// commonest colour, parted by rows of that colour alone.
std::vector<QRect> textLines(const QImage& image, QRect box);
// `window` shown and drawn as the screen would show it.
QImage rendered(QWidget& window);
// Every label with words in it that `window` shows whole, against what shows behind it (at least
// 3:1, the faint hints too); answers how many there were.
int expectReadableLabels(QWidget& window, const std::string& where);

}
