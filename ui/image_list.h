#pragma once

#include <QIcon>
#include <array>

#include "engine/model/hierarchy.h"

namespace kesmark::ui {

// The pictures of the result tree and the property list (16 x 16), numbered
// from 1 as Picture numbers them: odd numbers up to 21 show a kind of object
// with a green check (same), even numbers with a red cross (differs); 7, 8
// and 21 are the property pictures; 22, 24 and 26 the rows of a key-matched
// data comparison; 28 an object a stopped run did not compare and 30 the root
// of such a run. Numbers without a picture (23, 25, 27, 29) give an empty
// icon. Drawn from the SVG files in ui/images.
class ImageList {
  public:
    static constexpr int kCount = kLastPicture;

    // Renders the pictures for a screen of `devicePixelRatio`.
    explicit ImageList(double devicePixelRatio = 1.0);

    // The picture of that number; an empty icon outside 1..kCount and for
    // the numbers without a picture.
    QIcon Icon(int number) const;

  private:
    std::array<QIcon, kCount> icons_;
};

// A 16 x 16 picture drawn from an SVG resource for a screen of
// `devicePixelRatio`.
QIcon RenderSvgIcon(const QString& resource, double devicePixelRatio);

}  // namespace kesmark::ui
