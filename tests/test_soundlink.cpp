// The shared sound record: layout, creation, joining and refusal of foreign
// records.
#include <gtest/gtest.h>
#include "runtime/soundlink.h"
#include <string.h>

namespace {

TEST(SoundLink, CreatesZeroedRecordWithVersionFields)
{
    SoundShare* share = OpenSoundLink();
    ASSERT_NE(share, nullptr);
    EXPECT_EQ(share->size, 786);
    EXPECT_EQ(share->version, 5);
    EXPECT_EQ(share->saverMajor, 3);
    EXPECT_EQ(share->saverMinor, 6);
    EXPECT_EQ(share->saverBuild, 505);
    EXPECT_EQ(share->saverCount, 0);
    EXPECT_EQ(share->captureRequest, 0);
    EXPECT_EQ(share->displayName[0], 0);
    // Fields sit at their published byte offsets.
    const unsigned char* bytes = (const unsigned char*)share;
    EXPECT_EQ(*(const int*)(bytes + 0), 786);
    EXPECT_EQ(*(const short*)(bytes + 446), 3);
    EXPECT_EQ(*(const short*)(bytes + 450), 505);
    CloseSoundLink(share);
}

TEST(SoundLink, TwoOpenersSeeEachOthersFlags)
{
    SoundShare* first = OpenSoundLink();
    SoundShare* second = OpenSoundLink();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE((void*)first, (void*)second);
    first->captureRequest = 1;
    first->digitKey = 7;
    strcpy(first->displayName, "Capture #3");
    EXPECT_EQ(second->captureRequest, 1);
    EXPECT_EQ(second->digitKey, 7);
    EXPECT_STREQ(second->displayName, "Capture #3");
    second->verticalSteps = -4;
    EXPECT_EQ(*(volatile int*)&first->verticalSteps, -4);
    // Joining an existing record keeps what the first opener wrote.
    SoundShare* third = OpenSoundLink();
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->captureRequest, 1);
    CloseSoundLink(third);
    CloseSoundLink(second);
    // The first view stays valid after another opener closed.
    EXPECT_STREQ(first->displayName, "Capture #3");
    CloseSoundLink(first);
    // With every view gone the record disappears: a new open starts zeroed.
    SoundShare* fresh = OpenSoundLink();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->captureRequest, 0);
    CloseSoundLink(fresh);
}

// A record created by some other program with another layout.
static HANDLE CreateForeignRecord(int size, int version, void** view)
{
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 786, SOUND_SHARE_NAME);
    *view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ((int*)*view)[0] = size;
    ((int*)*view)[1] = version;
    ((int*)*view)[100] = 12345;
    return mapping;
}

TEST(SoundLink, RefusesRecordOfAnotherSizeOrVersion)
{
    const int layouts[][2] = {{800, 5}, {786, 4}, {0, 0}};
    for (const auto& layout : layouts) {
        void* view = 0;
        HANDLE mapping = CreateForeignRecord(layout[0], layout[1], &view);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(OpenSoundLink(), nullptr) << layout[0] << "/" << layout[1];
        // The foreign record is left exactly as its owner wrote it.
        EXPECT_EQ(((int*)view)[0], layout[0]);
        EXPECT_EQ(((int*)view)[1], layout[1]);
        EXPECT_EQ(((int*)view)[100], 12345);
        UnmapViewOfFile(view);
        CloseHandle(mapping);
    }
}

}  // namespace
