// Writing ".saf" archives: a text header of "<size> <name>\n" member lines ended by
// "-\n", then the members' bytes concatenated in header order.
#pragma once
#include <string>
#include <vector>

#include "shapes.h"

// The archive bytes of the members, in the given order. Names are full virtual names;
// a name holding a line feed or a leading blank cannot be stored and gives "".
std::string saf_archive(const std::vector<GeneratedFile> &members);
