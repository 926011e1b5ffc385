// HEIF, HEIC and AVIF: the colour of the primary item, from the item properties of the meta box.
//
// The boxes read, from the top: meta holds pitm (the primary item), iprp and iref. iprp holds ipco,
// the property boxes numbered from 1 in order, and one or more ipma boxes, which list per item the
// numbers of its properties. iref lists references between items; a derived item (a grid of
// tiles, say) names the items it is made of by dimg references, and it is the tiles that carry the
// colour when the derived item has none of its own.
//
// Every walk here is linear in the size of what it walks: a box header is at least 8 bytes, an
// association at least 1, no box is walked recursively, and the meta box is walked a bounded number
// of times (MostItemsSearched). No limit on counts is needed to bound the time a file can cost.
#include "metadata/ColourProfiles.h"
#include "metadata/FourCC.h"
#include "metadata/ImageInfoReader.h"

#include <algorithm>
#include <bitset>
#include <cstring>

namespace qorvi {
namespace {

constexpr uint32_t FileType = FourCC("ftyp");
constexpr uint32_t Meta = FourCC("meta");
constexpr uint32_t PrimaryItem = FourCC("pitm");
constexpr uint32_t ItemProperties = FourCC("iprp");
constexpr uint32_t PropertyContainer = FourCC("ipco");
constexpr uint32_t PropertyAssociation = FourCC("ipma");
constexpr uint32_t ItemReference = FourCC("iref");
constexpr uint32_t DerivedImage = FourCC("dimg");
constexpr uint32_t Colour = FourCC("colr");
constexpr uint32_t LightLevel = FourCC("clli");
constexpr uint32_t Profile = FourCC("prof");
constexpr uint32_t RestrictedProfile = FourCC("rICC");
constexpr uint32_t CodePointColour = FourCC("nclx");

constexpr uint32_t BoxHeaderBytes = 8;
constexpr uint32_t LargeBoxHeaderBytes = 16;
// A full box's version and flags.
constexpr uint32_t FullBoxBytes = 4;

// An ICC profile has a 128-byte header whose file signature "acsp" sits at byte 36.
constexpr uint32_t ProfileHeaderBytes = 128;
constexpr uint32_t ProfileSignatureOffset = 36;
constexpr char ProfileSignature[] = "acsp";

// Property numbers are at most 15 bits wide; the boxes of ipco past the last of them belong to no
// item.
constexpr uint32_t MostProperties = 0x7FFF;

// A derived item may be made of derived items (an identity turn of a grid, say). Colour is looked
// for in at most this many items: the primary item, the first it is derived from (through a dimg
// reference), the first that one is derived from, and so on. A longer chain, or one that loops,
// gives no colour.
constexpr int MostItemsSearched = 4;

struct Box {
    uint32_t Type = 0;
    uint32_t Begin = 0;  // the first byte after the header
    uint32_t End = 0;    // one past the last byte
};

// The box at `position` inside a parent that ends at `end` (at most the file's size). False when
// there is none: the parent is full, or the box's size is smaller than its header or runs past
// the parent, which ends the parent's walk. Size 0 runs to the parent's end.
bool ReadBox(TMemoryReader& reader, uint32_t position, uint32_t end, Box& box) {
    if (position > end || end - position < BoxHeaderBytes) return false;
    reader.SeekTo(position);
    uint64_t size = reader.ReadLong(true);
    box.Type = reader.ReadLong(true);
    uint32_t header = BoxHeaderBytes;
    if (size == 1) {
        if (end - position < LargeBoxHeaderBytes) return false;
        const uint64_t high = reader.ReadLong(true);
        size = high << 32 | reader.ReadLong(true);
        header = LargeBoxHeaderBytes;
    } else if (size == 0) {
        size = end - position;
    }
    if (size < header || size > end - position) return false;
    box.Begin = position + header;
    box.End = position + static_cast<uint32_t>(size);
    return true;
}

// The first box of `type` inside [begin, end).
bool FindBox(TMemoryReader& reader, uint32_t begin, uint32_t end, uint32_t type, Box& found) {
    Box box;
    for (uint32_t at = begin; ReadBox(reader, at, end, box); at = box.End) {
        if (box.Type == type) {
            found = box;
            return true;
        }
    }
    return false;
}

// Big-endian values inside one box: reading past its end throws EReadError, as reading past the
// file does.
class BoxContent {
public:
    BoxContent(TMemoryReader& reader, const Box& box) : Reader(reader), End(box.End) {
        reader.SeekTo(box.Begin);
    }
    uint32_t Remaining() const { return End - Reader.Position; }
    // A value of 1 to 4 bytes.
    uint32_t Read(uint32_t bytes) {
        if (bytes > Remaining()) throw EReadError();
        uint8_t data[4];
        Reader.ReadBuffer(data, bytes);
        uint32_t value = 0;
        for (uint32_t i = 0; i < bytes; ++i) value = value << 8 | data[i];
        return value;
    }
    // A full box's version (its flags are in the lower 24 bits of the value read).
    uint32_t ReadVersionAndFlags() { return Read(FullBoxBytes); }

private:
    TMemoryReader& Reader;
    uint32_t End;
};

uint32_t VersionOf(uint32_t versionAndFlags) { return versionAndFlags >> 24; }

// The boxes of meta that name the primary item and its properties.
struct MetaBoxes {
    bool HasPrimaryItem = false, HasProperties = false, HasReferences = false;
    Box PrimaryItem, Properties, References;
};

MetaBoxes FindMetaBoxes(TMemoryReader& reader, const Box& meta) {
    MetaBoxes found;
    if (meta.End - meta.Begin < FullBoxBytes) return found;
    Box box;
    for (uint32_t at = meta.Begin + FullBoxBytes; ReadBox(reader, at, meta.End, box);
         at = box.End) {
        // The first of each counts: a file has one.
        if (box.Type == PrimaryItem && !found.HasPrimaryItem) {
            found.PrimaryItem = box;
            found.HasPrimaryItem = true;
        } else if (box.Type == ItemProperties && !found.HasProperties) {
            found.Properties = box;
            found.HasProperties = true;
        } else if (box.Type == ItemReference && !found.HasReferences) {
            found.References = box;
            found.HasReferences = true;
        }
    }
    return found;
}

// Item ids are 16 bits wide in version 0 of pitm, ipma and iref, 32 bits in version 1.
uint32_t ItemIdBytes(uint32_t version) { return version == 0 ? 2 : 4; }

bool ReadPrimaryItem(TMemoryReader& reader, const Box& pitm, uint32_t& item) {
    BoxContent content(reader, pitm);
    const uint32_t version = VersionOf(content.ReadVersionAndFlags());
    if (version > 1) return false;  // a later layout we cannot read
    item = content.Read(ItemIdBytes(version));
    return true;
}

using PropertySet = std::bitset<MostProperties + 1>;

// Marks the properties one ipma box associates with `item`. An item may appear in several boxes
// (or, against the rules, twice in one); all its entries count. Entries cut off by the end of the
// box end it, and what was read before stays.
void ReadAssociations(TMemoryReader& reader, const Box& ipma, uint32_t item, PropertySet& found) {
    try {
        BoxContent content(reader, ipma);
        const uint32_t versionAndFlags = content.ReadVersionAndFlags();
        if (VersionOf(versionAndFlags) > 1) return;  // a later layout we cannot read
        const uint32_t idBytes = ItemIdBytes(VersionOf(versionAndFlags));
        // Flag 1: each association is 16 bits (essential bit, 15-bit number), else 8 (7-bit).
        const bool wide = (versionAndFlags & 1) != 0;
        const uint32_t numberMask = wide ? 0x7FFF : 0x7F;
        // The count can lie: the box's end bounds the walk.
        const uint32_t entries = content.Read(4);
        for (uint32_t entry = 0; entry < entries; ++entry) {
            const uint32_t id = content.Read(idBytes);
            const uint32_t associations = content.Read(1);
            for (uint32_t i = 0; i < associations; ++i) {
                const uint32_t number = content.Read(wide ? 2 : 1) & numberMask;
                // Number 0 means no property.
                if (id == item && number != 0) found.set(number);
            }
        }
    } catch (const EReadError&) {}
}

// What an item's properties say about its colour.
struct ItemColour {
    bool HasProfile = false;
    uint32_t ProfileOffset = 0, ProfileSize = 0;
    bool HasCodePoints = false;
    CodePoints Codes;
    bool HasLightLevel = false;
    uint16_t MaxContentLightLevel = 0;

    bool HasColour() const { return HasProfile || HasCodePoints; }
};

// A colr box: colour type, then an ICC profile to the end of the box, or code points. The first
// usable one of each kind counts; a profile without an ICC header or with less than one is left
// out as if absent.
void ReadColour(TMemoryReader& reader, const Box& colr, ItemColour& colour) {
    BoxContent content(reader, colr);
    const uint32_t type = content.Read(4);
    if (type == Profile || type == RestrictedProfile) {
        const uint32_t offset = reader.Position;
        const uint32_t size = content.Remaining();
        // The box lies inside the file, whose size is below 4 GiB, but the record takes at most
        // INT32_MAX bytes.
        if (colour.HasProfile || size < ProfileHeaderBytes || size > INT32_MAX) return;
        if (std::memcmp(reader.Memory + offset + ProfileSignatureOffset, ProfileSignature, 4) != 0)
            return;
        colour.HasProfile = true;
        colour.ProfileOffset = offset;
        colour.ProfileSize = size;
    } else if (type == CodePointColour && !colour.HasCodePoints) {
        CodePoints codes;
        codes.Primaries = static_cast<uint16_t>(content.Read(2));
        codes.Transfer = static_cast<uint16_t>(content.Read(2));
        codes.Matrix = static_cast<uint16_t>(content.Read(2));
        codes.FullRange = (content.Read(1) & 0x80) != 0;
        colour.Codes = codes;
        colour.HasCodePoints = true;
    }
}

void ReadLightLevel(TMemoryReader& reader, const Box& clli, ItemColour& colour) {
    if (colour.HasLightLevel) return;
    BoxContent content(reader, clli);
    // The maximum content light level, then the maximum picture average (not needed).
    colour.MaxContentLightLevel = static_cast<uint16_t>(content.Read(2));
    colour.HasLightLevel = true;
}

ItemColour ReadItemColour(TMemoryReader& reader, const Box& iprp, uint32_t item) {
    ItemColour colour;
    PropertySet associated;
    Box box;
    for (uint32_t at = iprp.Begin; ReadBox(reader, at, iprp.End, box); at = box.End)
        if (box.Type == PropertyAssociation) ReadAssociations(reader, box, item, associated);
    if (associated.none()) return colour;

    Box ipco;
    if (!FindBox(reader, iprp.Begin, iprp.End, PropertyContainer, ipco)) return colour;
    uint32_t number = 1;
    for (uint32_t at = ipco.Begin; number <= MostProperties && ReadBox(reader, at, ipco.End, box);
         at = box.End, ++number) {
        if (!associated.test(number)) continue;
        // A property cut short is left out; the others still count.
        try {
            if (box.Type == Colour)
                ReadColour(reader, box, colour);
            else if (box.Type == LightLevel)
                ReadLightLevel(reader, box, colour);
        } catch (const EReadError&) {}
    }
    return colour;
}

// The first item `item` is derived from: the first to_item_ID of a dimg reference from it. A
// reference box cut short is passed over; the others still count.
bool FirstDerivedFrom(TMemoryReader& reader, const Box& iref, uint32_t item, uint32_t& from) {
    uint32_t version;
    try {
        version = VersionOf(BoxContent(reader, iref).ReadVersionAndFlags());
    } catch (const EReadError&) {
        return false;
    }
    if (version > 1) return false;  // a later layout we cannot read
    const uint32_t idBytes = ItemIdBytes(version);
    Box box;
    for (uint32_t at = iref.Begin + FullBoxBytes; ReadBox(reader, at, iref.End, box);
         at = box.End) {
        if (box.Type != DerivedImage) continue;
        try {
            BoxContent reference(reader, box);
            if (reference.Read(idBytes) != item) continue;
            if (reference.Read(2) == 0) continue;  // a reference to no item
            from = reference.Read(idBytes);
            return true;
        } catch (const EReadError&) {}
    }
    return false;
}

void ReadPrimaryColour(TMemoryReader& reader, ImageInfo& info) {
    Box meta;
    if (!FindBox(reader, 0, reader.Size, Meta, meta)) return;
    const MetaBoxes boxes = FindMetaBoxes(reader, meta);
    // Without a primary item nothing says which picture is shown.
    uint32_t item;
    if (!boxes.HasPrimaryItem || !boxes.HasProperties ||
        !ReadPrimaryItem(reader, boxes.PrimaryItem, item))
        return;

    ItemColour colour = ReadItemColour(reader, boxes.Properties, item);
    for (int searched = 1;
         searched < MostItemsSearched && !colour.HasColour() && boxes.HasReferences; ++searched) {
        if (!FirstDerivedFrom(reader, boxes.References, item, item)) break;
        const ItemColour part = ReadItemColour(reader, boxes.Properties, item);
        // The colour comes whole from one item; the light level is the primary item's when it
        // gives one, else that of the item the colour comes from.
        colour.HasProfile = part.HasProfile;
        colour.ProfileOffset = part.ProfileOffset;
        colour.ProfileSize = part.ProfileSize;
        colour.HasCodePoints = part.HasCodePoints;
        colour.Codes = part.Codes;
        if (!colour.HasLightLevel) {
            colour.HasLightLevel = part.HasLightLevel;
            colour.MaxContentLightLevel = part.MaxContentLightLevel;
        }
    }

    // An ICC profile says more than code points do: it wins when an item has both.
    if (colour.HasProfile) {
        info.ProfileData = reader.Memory + colour.ProfileOffset;
        info.ProfileSize = static_cast<int32_t>(colour.ProfileSize);
        info.Flags |= HasProfileData;
    } else if (colour.HasCodePoints) {
        StoreCodePointProfile(colour.Codes, info, colour.MaxContentLightLevel);
    }
}

// The brands of still pictures and picture sequences in HEIF and AVIF files. Other files of the
// same box structure (videos, camera raw files such as Canon's CR3) are not ours: their decoders
// turn nothing by irot, and what the imaging component says of them stands.
constexpr uint32_t PictureBrands[] = {
    FourCC("mif1"), FourCC("mif2"), FourCC("msf1"), FourCC("heic"), FourCC("heix"), FourCC("heim"),
    FourCC("heis"), FourCC("hevc"), FourCC("hevx"), FourCC("avif"), FourCC("avis"), FourCC("avio")};

bool IsPictureBrand(uint32_t brand) {
    for (uint32_t picture : PictureBrands)
        if (brand == picture) return true;
    return false;
}

// Whether the file opens with an ftyp box naming a picture brand: the major brand, or one of the
// compatible brands after the minor version, as far as the box and the file go.
bool OpensWithPictureBrand(TMemoryReader& reader) {
    reader.Seek(0, 0);
    const uint32_t size = reader.ReadLong(true);
    if (reader.ReadLong(true) != FileType || size < BoxHeaderBytes) return false;
    const uint32_t end = std::min(size, reader.Size);
    constexpr uint32_t BrandBytes = 4, MinorVersionBytes = 4;
    if (end - reader.Position >= BrandBytes && IsPictureBrand(reader.ReadLong(true))) return true;
    reader.Seek(MinorVersionBytes, 1);
    while (reader.Position <= end && end - reader.Position >= BrandBytes)
        if (IsPictureBrand(reader.ReadLong(true))) return true;
    return false;
}

}  // namespace

bool ReadHEIFInfo(TMemoryReader& reader, ImageInfo& info) noexcept {
    try {
        if (!OpensWithPictureBrand(reader)) return false;
    } catch (const EReadError&) {
        return false;  // fewer than 8 bytes: no ftyp box
    }
    try {
        ReadPrimaryColour(reader, info);
    } catch (const EReadError&) {
        // pitm too short for its item id: there is no primary item, and nothing was stored.
    }
    return true;
}

}  // namespace qorvi
