#pragma once

#include <QIcon>
#include <array>

namespace kesmark::ui {

// The 21 pictures of the result tree and the property list (16 x 16),
// numbered from 1: odd numbers show a kind of object with a green check
// (same), even numbers with a red cross (differs); 7, 8 and 21 are the
// property pictures. Drawn from the SVG files in ui/images.
class ImageList {
  public:
    static constexpr int kCount = 21;

    // Renders the pictures for a screen of `devicePixelRatio`.
    explicit ImageList(double devicePixelRatio = 1.0);

    // The picture of that number; an empty icon outside 1..21.
    QIcon Icon(int number) const;

  private:
    std::array<QIcon, kCount> icons_;
};

// A 16 x 16 picture drawn from an SVG resource for a screen of
// `devicePixelRatio`.
QIcon RenderSvgIcon(const QString& resource, double devicePixelRatio);

}  // namespace kesmark::ui
