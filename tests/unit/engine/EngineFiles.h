// Files the engine's tests convert with: Debian's reference profiles (icc-profiles-free,
// colord-data), the built-in CMYK profile of the source tree and the test pictures.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qorvi::test {

using Bytes = std::vector<uint8_t>;

// A whole file; empty when it cannot be read.
inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline std::string ProfilePath(const std::string& name) {
    return std::string(QORVI_PROFILE_FOLDER) + "/" + name;
}
inline Bytes Profile(const std::string& name) { return ReadBytes(ProfilePath(name)); }
inline std::string BuiltInCMYKPath() {
    return std::string(QORVI_SOURCE_FOLDER) + "/resources/CMYKProfile.icc";
}
inline Bytes BuiltInCMYK() { return ReadBytes(BuiltInCMYKPath()); }
inline std::string ImagePath(const std::string& name) {
    return std::string(QORVI_IMAGE_FOLDER) + "/" + name;
}

}  // namespace qorvi::test
