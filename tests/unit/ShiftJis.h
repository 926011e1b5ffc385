// The lead-byte test of code page 932 (Shift-JIS), for the path helpers' double-byte cases on any
// system: 0x81..0x9F and 0xE0..0xFC start a two-byte character whose trail byte may be 0x5C, the
// byte of "\".
#pragma once

namespace qorvi::test {

inline bool ShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

}  // namespace qorvi::test
