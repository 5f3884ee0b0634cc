#pragma once

#include <string>
#include <string_view>

namespace kesmark {

// Lower-cases ASCII letters only: the case-insensitive name lookup of the
// databases ("Orders" and "ORDERS" fold alike; "É" stays as it is).
std::string FoldAsciiCase(std::string_view text);

}  // namespace kesmark
