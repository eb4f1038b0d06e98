// Where the library puts a file of a configured directory.
#pragma once

#include <string>
#include <string_view>

// dir + "/" + name; name alone (the current working directory) when dir is
// empty, and when dir holds a U+0000, which the operating system would read
// as the end of the path and so name another directory than the one given.
std::u16string fileInDirectory(std::u16string_view dir, std::u16string_view name);
