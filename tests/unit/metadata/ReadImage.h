// A file image read as the pipeline reads it, into a record the object owns and frees.
#pragma once

#include "metadata/ImageInfoReader.h"

#include <cstdint>
#include <vector>

namespace qorvi {

struct ImageReadFixture {
    explicit ImageReadFixture(std::vector<uint8_t> file, const ImageInfoEngine& engine = {})
        : File(std::move(file)), Reader(File.data(), uint32_t(File.size())) {
        ReadImageInfo(Reader, Info, engine);
    }
    ~ImageReadFixture() { FreeProfileBuffer(Info.ProfileBuffer); }
    ImageReadFixture(const ImageReadFixture&) = delete;
    ImageReadFixture& operator=(const ImageReadFixture&) = delete;

    // The profile's bytes, wherever the reader put them.
    std::vector<uint8_t> Profile() const {
        const auto* p =
            static_cast<const uint8_t*>(Info.ProfileBuffer ? Info.ProfileBuffer : Info.ProfileData);
        return p ? std::vector<uint8_t>(p, p + Info.ProfileSize) : std::vector<uint8_t>{};
    }
    bool PointsIntoFile() const {
        const auto* p = static_cast<const uint8_t*>(Info.ProfileData);
        return p >= File.data() && p + Info.ProfileSize <= File.data() + File.size();
    }

    std::vector<uint8_t> File;
    TMemoryReader Reader;
    ImageInfo Info{};
};

}  // namespace qorvi
