#pragma once

#include <string>

// Helpers of the image output (saving and clipboard). The operations
// themselves are members of CCaptureController, defined in image_output.cpp.

// The extension of a chosen file name: the text after the last "." of its
// last component, "" when there is none.
std::string ChosenExtension(const std::string& path);
