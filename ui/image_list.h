#pragma once

#include <QIcon>
#include <array>

#include "engine/model/hierarchy.h"

namespace kesmark::ui {

// The pictures of the result tree and the property list (16 x 16),
// numbered from 1 as engine/model/hierarchy.h names them: odd numbers show a
// kind of object with a green check (same), even numbers with a red mark
// (differs); 7, 8 and 21 are the property pictures, 22, 24 and 26 the rows
// only in database 1, only in database 2 and changed. Drawn from the SVG
// files in ui/images; a number without a file has an empty picture.
class ImageList {
  public:
    static constexpr int kCount = kLastPicture;

    // Renders the pictures for a screen of `devicePixelRatio`.
    explicit ImageList(double devicePixelRatio = 1.0);

    // The picture of that number; an empty icon outside 1..kCount.
    QIcon Icon(int number) const;

  private:
    std::array<QIcon, kCount> icons_;
};

// A 16 x 16 picture drawn from an SVG resource for a screen of
// `devicePixelRatio`.
QIcon RenderSvgIcon(const QString& resource, double devicePixelRatio);

}  // namespace kesmark::ui
