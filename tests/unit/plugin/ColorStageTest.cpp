// The colour stage against a stand-in engine: what it converts with, when it proofs, the workers'
// start, and the lock and floating-point state it leaves, also after an engine fault.
#include "plugin/ColorStage.h"

#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace qorvi {
namespace {

struct EngineCalls {
    int created = 0, createdWith = 0, plain = 0, proofed = 0;
    std::string proofingPath;
    void *source = nullptr, *destination = nullptr;
    int32_t sourceStride = 0, destinationStride = 0, width = 0, height = 0, kind = -1;
    uint16_t controlWord = 0;
    bool fault = false;
};
EngineCalls calls;

uint16_t ControlWord() {
    uint16_t word;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}
uint16_t StatusWord() {
    uint16_t word;
    asm volatile("fnstsw %0" : "=m"(word));
    return word;
}

void Record(void* source, void* destination, int32_t sourceStride, int32_t destinationStride,
            int32_t width, int32_t height, int32_t kind) {
    calls.source = source, calls.destination = destination;
    calls.sourceStride = sourceStride, calls.destinationStride = destinationStride;
    calls.width = width, calls.height = height, calls.kind = kind;
    calls.controlWord = ControlWord();
    // A masked division by zero leaves its flag pending in the x87 status word.
    volatile long double zero = 0;
    volatile long double quotient = 1 / zero;
    (void)quotient;
    if (calls.fault) {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
}

void __cdecl FakeCreateWorkerThread(int32_t count) { ++calls.created, calls.createdWith = count; }
void __cdecl FakeTransform(CMSInfo*, const ImageInfo*, void* source, void* destination,
                           int32_t sourceStride, int32_t destinationStride, int32_t width,
                           int32_t height, int32_t kind) {
    ++calls.plain;
    Record(source, destination, sourceStride, destinationStride, width, height, kind);
}
void __cdecl FakeProofingTransform(CMSInfo*, const ImageInfo*, void* source, void* destination,
                                   int32_t sourceStride, int32_t destinationStride, int32_t width,
                                   int32_t height, int32_t kind, const char* profile) {
    ++calls.proofed;
    calls.proofingPath = profile;
    Record(source, destination, sourceStride, destinationStride, width, height, kind);
}

class ColorTransform : public ::testing::Test {
protected:
    void SetUp() override {
        calls = EngineCalls();
        savedEngine = LCMSDll;
        LCMSDll = LCMSEntryPoints();
        LCMSDll.CreateWorkerThread = FakeCreateWorkerThread;
        LCMSDll.ColorTransform = FakeTransform;
        LCMSDll.ProofingColorTransform = FakeProofingTransform;
        state.ProcessorCount = 3;
    }
    void TearDown() override { LCMSDll = savedEngine; }
    // A plain transform, as a request without proofing makes it.
    void Transform(void* source, void* destination, int32_t sourceStride, int32_t destinationStride,
                   int32_t width, int32_t height, int32_t kind) {
        ApplyColorTransform(state, nullptr, cms, info, source, destination, sourceStride,
                            destinationStride, width, height, kind);
    }
    LCMSEntryPoints savedEngine;
    PluginState state;
    CMSInfo cms{};
    ImageInfo info{};
};

TEST_F(ColorTransform, ConvertsCMYKRowsIntoANewBufferStartingTheWorkersOnce) {
    UniqueImage imageOwner = AllocateImage(4, 5, 3);
    ImageBuffer& image = imageOwner.get();
    const void* oldBits = image.Bits;
    ASSERT_TRUE(Convert32To24(state, nullptr, cms, info, image));
    EXPECT_EQ(image.Header->biBitCount, 24);
    EXPECT_EQ(calls.source, oldBits);
    EXPECT_EQ(calls.destination, image.Bits);
    EXPECT_EQ(calls.sourceStride, 20);
    EXPECT_EQ(calls.destinationStride, 16);
    EXPECT_EQ(calls.width, 5);
    EXPECT_EQ(calls.height, 3);
    EXPECT_EQ(calls.kind, TransformCMYK);
    Transform(image.Bits, image.Bits, 16, 16, 5, 3, 0);
    EXPECT_EQ(calls.created, 1);
    EXPECT_EQ(calls.createdWith, 3);
    EXPECT_TRUE(state.WorkerThreadsStarted);
    EXPECT_EQ(calls.plain, 2);
}

TEST_F(ColorTransform, ProofsOnlyWithSoftProofingAndAProfile) {
    uint8_t pixel[4] = {};
    TPluginOption settings;
    auto transform = [&] {
        ApplyColorTransform(state, ProofingProfile(settings), cms, info, pixel, pixel, 4, 4, 1, 1,
                            0);
    };
    settings.SoftProofing = true;
    settings.ProofingProfileName = "";
    transform();
    settings.SoftProofing = false;
    settings.ProofingProfileName = "C:\\proof.icc";
    transform();
    EXPECT_EQ(calls.plain, 2);
    settings.SoftProofing = true;
    transform();
    EXPECT_EQ(calls.proofed, 1);
    EXPECT_EQ(calls.proofingPath, "C:\\proof.icc");
}

TEST_F(ColorTransform, RunsAtDoublePrecisionAndRestoresTheUnitAlsoWhenTheEngineFaults) {
    QORVI_SKIP_WHEN_EMULATED("processor faults arrive with other codes");
    uint8_t pixel[4] = {};
    const uint16_t original = ControlWord();
    const uint16_t extended = uint16_t(original | 0x0300);  // 64-bit precision
    asm volatile("fldcw %0" : : "m"(extended));
    for (bool fault : {false, true}) {
        calls.fault = fault;
        bool thrown = false;
        try {
            Transform(pixel, pixel, 4, 4, 1, 1, 0);
        } catch (const StageFault& error) {
            thrown = true;
            EXPECT_NE(std::string(error.what()).find("C0000005"), std::string::npos);
        }
        EXPECT_EQ(thrown, fault);
        EXPECT_EQ(calls.controlWord & 0x0300, 0x0200) << "precision inside the engine";
        EXPECT_EQ(ControlWord(), extended) << "control word afterwards";
        EXPECT_EQ(StatusWord() & 0x3F, 0) << "pending exceptions afterwards";
        // The lock is free for another thread.
        bool entered = false;
        std::thread([&] {
            entered = state.TransformLock.tryEnter();
            if (entered) state.TransformLock.leave();
        }).join();
        EXPECT_TRUE(entered) << (fault ? "after a fault" : "after a transform");
    }
    asm volatile("fldcw %0" : : "m"(original));
}

TEST_F(ColorTransform, DoesNothingWithoutAnEngine) {
    LCMSDll = LCMSEntryPoints();
    uint8_t pixel[4] = {};
    Transform(pixel, pixel, 4, 4, 1, 1, 0);
    EXPECT_FALSE(state.WorkerThreadsStarted);
}

}  // namespace
}  // namespace qorvi
