// Version-4 LUT profiles written by Little CMS, for the tests and the fuzz seeds: copies of
// version-2 LUT profiles (Little CMS stores their tables as lutAtoBType and lutBtoAType), and
// RGB profiles whose tables hold curves only, curves with a matrix, and a colour table.
#pragma once

#include <string>

namespace v4p {

// Rewrites a version-2 profile's A2B and B2A tables as version-4 ones. 16-bit tables with a
// Lab connection space get the version-4 Lab encoding folded into their connection-space
// curves, so that the copy converts like the original.
bool CopyAsV4(const std::string& in, const std::string& out);

// RGB profiles: "v4-curves.icc" (XYZ; B curves only, parametric one way and sampled the
// other), "v4-matrix.icc" (XYZ; M curves, matrix with offsets, B curves) and "v4-clut.icc"
// (Lab; every element, colour tables with 9, 17 and 5 points), and "v4-clut8.icc" (Lab; curves
// and 8-bit colour tables).
bool WriteRgbProfiles(const std::string& dir);

}  // namespace v4p
