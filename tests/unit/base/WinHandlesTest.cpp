// The resource owners release exactly what they hold, once.
#include "base/WinHandles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qorvi {
namespace {

bool HandleIsOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE NewEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

TEST(WinHandles, OwnersCloseOnceAndMoveOwnership) {
    HANDLE raw = NewEvent();
    {
        UniqueHandle first(raw);
        UniqueHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.get(), raw);
        EXPECT_TRUE(HandleIsOpen(raw)) << "a move closes nothing";
        UniqueHandle third;
        third = std::move(second);
        EXPECT_TRUE(HandleIsOpen(raw));
    }
    EXPECT_FALSE(HandleIsOpen(raw)) << "the last owner closed it";

    HANDLE kept = NewEvent();
    HANDLE replaced = NewEvent();
    {
        UniqueHandle owner(replaced);
        owner.reset(kept);
        EXPECT_FALSE(HandleIsOpen(replaced)) << "reset closes the old handle";
        EXPECT_EQ(owner.release(), kept);
        EXPECT_FALSE(owner);
    }
    EXPECT_TRUE(HandleIsOpen(kept)) << "a released handle is the caller's";
    CloseHandle(kept);
}

TEST(WinHandles, FileAndFindOwnersAreEmptyAtInvalidHandleValue) {
    UniqueFile file;
    EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(file);
    UniqueFind find(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(find);
    // The other owners are empty at null.
    UniqueHandle event;
    EXPECT_EQ(event.get(), nullptr);
    EXPECT_FALSE(event);

    char temp[MAX_PATH + 1] = {};
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    const std::string path =
        std::string(temp) + "qorvi-handles-" + std::to_string(GetCurrentProcessId());
    HANDLE raw = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(raw, INVALID_HANDLE_VALUE);
    file.reset(raw);
    EXPECT_TRUE(file);
    file.reset();
    // Opened without sharing, the file can be deleted only once the owner has closed it.
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST(WinHandles, LocalBlocksAreLockedForAScopeAndFreed) {
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE, 64);
    ASSERT_NE(block, nullptr);
    {
        UniqueLocal owner(block);
        {
            const LocalLockScope locked(block);
            ASSERT_TRUE(locked);
            EXPECT_EQ(LocalFlags(block) & LMEM_LOCKCOUNT, 1u);
        }
        EXPECT_EQ(LocalFlags(block) & LMEM_LOCKCOUNT, 0u) << "the scope unlocked what it locked";
        EXPECT_FALSE(LocalLockScope(nullptr)) << "no block, nothing locked";
    }
    EXPECT_EQ(LocalFlags(block), LMEM_INVALID_HANDLE);
}

TEST(WinHandles, GdiObjectsAreDeleted) {
    HFONT font =
        CreateFontW(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    ASSERT_NE(font, nullptr);
    ASSERT_NE(brush, nullptr);
    {
        UniqueFont ownedFont(font);
        UniqueBrush ownedBrush(brush);
        EXPECT_EQ(GetObjectType(font), DWORD(OBJ_FONT));
    }
    EXPECT_EQ(GetObjectType(font), 0u) << "the font was deleted";
    EXPECT_EQ(GetObjectType(brush), 0u) << "the brush was deleted";
}

TEST(WinHandles, GuardEntersOnlyWhenEngaged) {
    CriticalSection section;
    auto enterableFromAnotherThread = [&] {
        std::atomic<bool> entered{false};
        std::thread([&] {
            if (section.tryEnter()) {
                entered = true;
                section.leave();
            }
        }).join();
        return entered.load();
    };
    {
        CriticalSectionGuard guard(section);
        EXPECT_TRUE(guard.engaged());
        EXPECT_FALSE(enterableFromAnotherThread());
    }
    EXPECT_TRUE(enterableFromAnotherThread()) << "left at the end of the scope";
    {
        CriticalSectionGuard guard(section, false);
        EXPECT_FALSE(guard.engaged());
        EXPECT_TRUE(enterableFromAnotherThread());
    }
    EXPECT_TRUE(enterableFromAnotherThread());
}

}  // namespace
}  // namespace qorvi
