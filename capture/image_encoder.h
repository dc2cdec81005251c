#pragma once

#include <string>
#include <vector>

// One image format the codec service can write: what the form lists, the
// Save As dialog offers and SaveByExtension chooses by.
struct ImageEncoder {
    std::string shortName;               // "PNG": the first word of its description
    std::vector<std::string> extensions; // lower case, without dot: {"jpg", "jpeg"}
    std::string qtFormat;                // the name QImageWriter knows it by
};
