// The colour stage of the picture pipeline: the one way into the colour engine.
//
// ApplyColorTransform holds the plug-in's TransformLock for the whole call, so one transform runs
// at a time in the process and the engine records do not change under it; the engine spreads it
// over its own workers, started on the first call. It runs with the x87 unit at 53-bit
// precision; afterwards the pending floating-point exceptions are cleared and the caller's
// control word is back. A fault inside the engine leaves the lock released and the
// floating-point state restored, and is thrown on as a StageFault. Without a bound engine it does
// nothing.
#pragma once

#include "color/LCMSDll.h"
#include "metadata/ImageInfoReader.h"
#include "plugin/ImageBuffer.h"
#include "plugin/PluginState.h"
#include "plugin/Settings.h"

#include <cstdint>

namespace qorvi {

// The proofing profile a request's transforms proof with: ProofingProfileName when SoftProofing
// is on and the name is set, else null. It lives as long as `settings`.
const char* ProofingProfile(const TPluginOption& settings) noexcept;

// Converts through the engine (TransformKind): ProofingColorTransform with `proofingProfile` when
// that is not null and the engine has it, else ColorTransform. Throws StageFault when the engine
// faults.
void ApplyColorTransform(PluginState& state, const char* proofingProfile, CMSInfo& cmsInfo,
                         const ImageInfo& imageInfo, void* source, void* destination,
                         int32_t sourceStride, int32_t destinationStride, int32_t width,
                         int32_t height, int32_t kind);

// A 32-bit C,M,Y,K buffer converted by the engine (TransformCMYK) into a new 24-bit B,G,R buffer.
// False, with the buffer untouched, when the new buffer cannot be had.
bool Convert32To24(PluginState& state, const char* proofingProfile, CMSInfo& cmsInfo,
                   const ImageInfo& imageInfo, ImageBuffer& buffer);

}  // namespace qorvi
