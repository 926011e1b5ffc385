#include "plugin/ColorStage.h"

#include "base/GuardedCall.h"

#include <cstdio>
#include <utility>

namespace qorvi {

namespace {

// The x87 unit's control word: precision control is bits 8 and 9; binary 10 there is 53 bits.
uint16_t ReadControlWord() {
    uint16_t word;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}
void WriteControlWord(uint16_t word) { asm volatile("fldcw %0" : : "m"(word)); }
constexpr uint16_t PrecisionControlMask = 0x0300;
constexpr uint16_t DoublePrecision = 0x0200;

}  // namespace

const char* ProofingProfile(const TPluginOption& settings) noexcept {
    if (!settings.SoftProofing || settings.ProofingProfileName.empty()) return nullptr;
    return settings.ProofingProfileName.c_str();
}

void ApplyColorTransform(PluginState& state, const char* proofingProfile, CMSInfo& cmsInfo,
                         const ImageInfo& imageInfo, void* source, void* destination,
                         int32_t sourceStride, int32_t destinationStride, int32_t width,
                         int32_t height, int32_t kind) {
    if (LCMSDll.ProofingColorTransform == nullptr && LCMSDll.ColorTransform == nullptr) return;
    CriticalSectionGuard guard(state.TransformLock);
    const bool proofing = proofingProfile != nullptr && LCMSDll.ProofingColorTransform != nullptr;
    if (!proofing && LCMSDll.ColorTransform == nullptr) return;
    if (!state.WorkerThreadsStarted) {
        if (LCMSDll.CreateWorkerThread != nullptr) LCMSDll.CreateWorkerThread(state.ProcessorCount);
        state.WorkerThreadsStarted = true;
    }
    const uint16_t previousControlWord = ReadControlWord();
    WriteControlWord(uint16_t((previousControlWord & ~PrecisionControlMask) | DoublePrecision));
    // The guarded body only calls the engine: no object with a destructor lives across it.
    auto transform = [&] {
        if (proofing)
            LCMSDll.ProofingColorTransform(&cmsInfo, &imageInfo, source, destination, sourceStride,
                                           destinationStride, width, height, kind, proofingProfile);
        else
            LCMSDll.ColorTransform(&cmsInfo, &imageInfo, source, destination, sourceStride,
                                   destinationStride, width, height, kind);
    };
    const GuardResult result = RunGuarded(transform);
    ClearFloatingPointStatus();
    WriteControlWord(previousControlWord);
    if (!result.completed) {
        char message[64];
        std::snprintf(message, sizeof message, "Error in ColorTransform (exception %08lX)",
                      static_cast<unsigned long>(result.exceptionCode));
        throw StageFault(message);
    }
}

bool Convert32To24(PluginState& state, const char* proofingProfile, CMSInfo& cmsInfo,
                   const ImageInfo& imageInfo, ImageBuffer& buffer) {
    const BITMAPINFOHEADER& h = *buffer.Header;
    const int32_t width = h.biWidth, height = h.biHeight;
    UniqueImage converted = AllocateImage(3, width, height);
    if (!converted) return false;
    const TImageDesc out = DescribeRows(converted.get());
    // The source rows are 32-bit, so 4 x width bytes apart without fill.
    ApplyColorTransform(state, proofingProfile, cmsInfo, imageInfo, buffer.Bits, out.Bits,
                        width * 4, out.Stride, width, height, TransformCMYK);
    ReplaceImage(buffer, std::move(converted));
    return true;
}

}  // namespace qorvi
