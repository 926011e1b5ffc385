// Colour engine (qorvi.dll): ICC conversion on Little CMS behind the CMSInfo records of
// engine/EngineApi.h. This is its platform-free core; EngineMain.cpp binds it to the exports and
// WorkerThreads.cpp gives it threads.
//
// A record's state is an entry in the engine's own table, named by the record's state words, so
// a record that was never prepared (or holds junk) is recognised and left alone. Preparing
// builds the output profile (the monitor profile when its bytes make a usable RGB output, else
// sRGB) and the CMYK profile (when its bytes are a CMYK profile); preparing again replaces the
// old state whole, and finalising releases it.
//
// CMYK rows (kind 1) hold per pixel the bytes C, M, Y, K in that order, not inverted: 0 is no
// ink, 255 full ink (Little CMS's TYPE_CMYK_8). That is what our sample decoder delivers after
// UseCMYKColorSpace (children/README.md, "The CMYK agreement"); decoders of Adobe-style JPEGs,
// which store inverted ink, must undo the inversion.
//
// A transform takes the source's colours from ImageInfo in this order: an embedded profile of
// the buffer's colour space; else the white point, primaries and gamma (missing pieces from
// sRGB, gamma 2.2 when primaries are known but no gamma); else sRGB (which is also what Exif
// ColorSpace 1 says). A source Little CMS cannot build a transform from falls through to the
// next, so a picture is never garbled; a CMYK picture with no usable profile at all gets the
// plain ink formula. Bad arguments (null buffers, strides shorter than a row, sizes below 1)
// make a transform do nothing. Nothing here throws.
//
// Built transforms are kept per record, at most CachedTransforms of them, keyed by the source's
// bytes (not their address), the kind, both intents, the flags and the proofing profile file,
// so a series of pictures with the same source builds one. Large pictures are split by rows over
// the worker group; every slice runs with the caller's floating-point environment, so the
// bytes equal a single-threaded run.
#pragma once

#include "base/MultiThread.h"
#include "engine/EngineApi.h"

#include <cstddef>
#include <cstdint>

namespace qorvi::engine {

// The worker group (base/MultiThread.h) transforms split their rows over, one slice per member;
// null (the start) means the calling thread alone. Swapped only between transforms; the group
// must outlive every transform that may use it.
void SetWorkerGroup(TMultiThread* group) noexcept;

// Pictures smaller than this run on the calling thread: splitting costs more than it saves.
inline constexpr int64_t ParallelPixels = 1 << 16;
inline constexpr size_t CachedTransforms = 8;
// Larger profiles are not profiles a picture or a setting carries.
inline constexpr uint32_t LargestProfile = 64u << 20;

// False only when memory ran out; the record then keeps what it held.
bool InitializeRecord(CMSInfo& info, const void* monitorProfile, int32_t monitorSize,
                      const void* cmykProfile, int32_t cmykSize) noexcept;
void FinalizeRecord(CMSInfo& info) noexcept;
bool RecordPrepared(const CMSInfo& info) noexcept;
// Whether the prepared record's output is the monitor profile it was given (false: sRGB).
bool RecordUsesMonitorProfile(const CMSInfo& info) noexcept;

// `proofingProfile` null or empty: the plain transform. A proofing profile file that is missing
// or not a profile gives the plain transform too.
void Transform(CMSInfo& info, const ImageInfo* image, void* source, void* destination,
               int32_t sourceStride, int32_t destinationStride, int32_t width, int32_t height,
               int32_t kind, const char* proofingProfile) noexcept;

// The colour space signature of the profile file at `path` (Little CMS's value), 0 when it is
// not a readable profile.
uint32_t ProfileFileColorSpace(const char* path) noexcept;

// At the library's unload, with no transform running: releases every record's state and Little
// CMS's context of the engine. A later call starts afresh.
void ReleaseEngine() noexcept;

// For tests and benchmarks: how often a transform was built, and what is alive.
struct EngineCounters {
    uint64_t TransformsBuilt;
    size_t LiveRecords;
    size_t LiveTransforms;
};
EngineCounters Counters() noexcept;

}  // namespace qorvi::engine
