#include "plugin/ImageBuffer.h"
#include "plugin/SusiePluginMain.h"

namespace qorvi {

namespace {

// Shown on the calling thread, in a plain box with an OK button; the request then answers 8.
void ShowFault(const wchar_t* message) { MessageBoxW(nullptr, message, L"qorvi", MB_OK); }

constexpr wchar_t ShortBitmapMessage[] =
    L"The child plug-in's bitmap is smaller than its header says";

}  // namespace

bool ProcessPicture(TMemoryReader& reader, HLOCAL& infoHandle, HLOCAL& bitsHandle, bool preview) {
    switch (CheckChildBitmap(infoHandle, bitsHandle)) {
    case ChildBitmap::Short:
        // Neither we nor the host may read such a bitmap: reading its rows would run past the
        // child's block.
        ShowFault(ShortBitmapMessage);
        return false;
    case ChildBitmap::Foreign:
        return true;
    case ChildBitmap::Usable:
        break;
    }
    ImageBuffer buffer{infoHandle, bitsHandle,
                       static_cast<BITMAPINFOHEADER*>(LocalLock(infoHandle)),
                       static_cast<uint8_t*>(LocalLock(bitsHandle))};
    const bool locked = buffer.Header != nullptr && buffer.Bits != nullptr;
    // Every stage works on bottom-up rows.
    if (locked) MakeBottomUp(buffer);
    // The stages (alpha, shrinking, rotation, colour) come here.
    if (buffer.Header != nullptr) LocalUnlock(infoHandle);
    if (buffer.Bits != nullptr) LocalUnlock(bitsHandle);
    infoHandle = buffer.InfoHandle;
    bitsHandle = buffer.BitsHandle;
    return locked;
}

}  // namespace qorvi
