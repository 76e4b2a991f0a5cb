// Compares two version texts of the update list, component by component.
#pragma once

#include <string>

namespace velmora::manifest {

// True when `installed` is not older than `available`. Both texts are cut at
// every "." and the components they both have are compared in order as signed
// 32-bit numbers, read like std::stoi (leading blanks, optional sign, digits,
// trailing text ignored); the first unequal pair decides. Extra components of
// the longer text never count. False when `installed` is older, or when a
// compared component of either text has no digit or lies outside int32.
bool IsUpToDate(std::string available, std::string installed);

}  // namespace velmora::manifest
