// The live page's script and style sheet, built into the program from
// page/page.js and page/page.css (see CMakeLists.txt): the page needs no
// file, CDN or build step at run time.
#pragma once

#include <string_view>

namespace moxcollect {

std::string_view pageScript();
std::string_view pageStyle();

}  // namespace moxcollect
