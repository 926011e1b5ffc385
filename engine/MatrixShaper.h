// The engine's own kernel for the commonest transform: 8-bit B,G,R between two matrix-shaper
// profiles (sRGB, AdobeRGB, wide-gamut and most monitor profiles), tone curves, a 3 x 3 matrix
// (with offset) and tone curves again.
//
// Little CMS's 8-bit kernel for these works in 1.14 fixed point in the linear domain and loses up
// to 3 levels near black when the output curve is steep there. This one keeps the linear values
// in single precision and encodes them through a table indexed by the float's exponent and top
// mantissa bits (fine near zero, where the curves are steep), or by the 16-bit value Little CMS
// itself quantises tabulated curves to; results stay within 1 level of Little CMS's
// floating-point transform, and it is no slower than Little CMS's own 8-bit path.
//
// MatrixShaperPlugin is the Little CMS transform plug-in to create the engine's context with; the
// plug-in takes only pipelines of that form between TYPE_BGR_8 buffers and leaves everything
// else (CMYK, grey, look-up tables, proofing) to Little CMS.
#pragma once

namespace qorvi::engine {

void* MatrixShaperPlugin() noexcept;
// The kernel takes its SSE2 path at the SIMD level SSE2 of the processor-feature probe
// (base/ProcessorFeatures.h) and its plain path below it: it has no MMX path, so a processor
// with MMX alone, or QORVI_SIMD=mmx, gets the plain one. Both give results within the bounds
// above. Tests switch to the plain path with true, and ask which path runs.
void UseScalarMatrixShaper(bool scalar) noexcept;
bool MatrixShaperUsesSSE2() noexcept;

}  // namespace qorvi::engine
