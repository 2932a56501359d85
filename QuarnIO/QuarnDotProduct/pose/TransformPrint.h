#pragma once

#include <ostream>

#include <TooN/se3.h>

// Writes the read's global transform: a title line, the three rows in TooN's SE3 format
// and an empty line, flushing after the title and at the end.
void printGlobalTransform(std::ostream& out, const TooN::SE3<double>& globalTransform);
