// The drawing lock and presentation, on a bare record with a real mutex.
#include <gtest/gtest.h>

#include <chrono>

#include "common.h"
#include "platform.h"
#include "thread_helpers.h"

using namespace vantu::platform;

namespace {

vantu_bool g_restoreResult = 1; // the hook's answer
int g_restoreCalls = 0;
vantu_bool VANTU_CALL TestRestore(SCommonRec *) { return ++g_restoreCalls, g_restoreResult; }

class DrawLock : public ::testing::Test {
protected:
    void SetUp() override {
        g_restoreResult = 1;
        rec.drawMutex = MutexCreate();
        rec.RestoreLostSurfaces = TestRestore;
    }
    void TearDown() override { MutexClose(rec.drawMutex); }
    // Whether another thread can take the mutex now.
    bool FreeForOthers() {
        return OnOtherThread([this] {
            return MutexWait(rec.drawMutex, 50) == WaitResult::Acquired && MutexRelease(rec.drawMutex);
        });
    }
    bool Round() { return CommonDrawBegin(&rec) == &rec.version && CommonDrawEnd(&rec) == 1; }
    SCommonRec rec{};
};

TEST_F(DrawLock, BeginEndPairing) {
    EXPECT_EQ(CommonDrawEnd(&rec), 0) << "DrawEnd without DrawBegin";
    ASSERT_EQ(CommonDrawBegin(&rec), &rec.version);
    EXPECT_FALSE(FreeForOthers());
    const int calls = g_restoreCalls;
    EXPECT_EQ(CommonDrawBegin(&rec), nullptr) << "second DrawBegin";
    EXPECT_EQ(g_restoreCalls, calls) << "the flag is tested before the hook";
    EXPECT_EQ(CommonDrawEnd(&rec), 1);
    EXPECT_TRUE(FreeForOthers()) << "one DrawEnd undoes one DrawBegin";
    EXPECT_EQ(CommonDrawEnd(&rec), 0);
    EXPECT_TRUE(OnOtherThread([this] { return Round(); })) << "another thread after DrawEnd";
    EXPECT_TRUE(Round());
    // Failed DrawBegins leave the flag clear and the mutex free.
    g_restoreResult = 0;
    EXPECT_EQ(CommonDrawBegin(&rec), nullptr) << "hook refused";
    EXPECT_TRUE(FreeForOthers());
    g_restoreResult = 1;
    MutexClose(rec.drawMutex);
    rec.drawMutex = nullptr;
    EXPECT_EQ(CommonDrawBegin(&rec), nullptr) << "no mutex";
    EXPECT_EQ(CommonDrawEnd(&rec), 0);
}

TEST_F(DrawLock, PresentAndSync) {
    // Flipping needs the hook's consent and no drawing; Sync needs a ready driver and no drawing.
    const struct { bool drawing; uint8_t readied; vantu_bool hook, flip, sync; } cases[] = {
        {true, 1, 1, 0, 0},  {true, 0, 1, 0, 0},  {false, 1, 1, 1, 1},
        {false, 0, 1, 1, 0}, {false, 1, 0, 0, 1}, {false, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.drawing << int(c.readied) << int(c.hook));
        rec.readied = c.readied;
        if (c.drawing)
            ASSERT_NE(CommonDrawBegin(&rec), nullptr);
        g_restoreResult = c.hook;
        EXPECT_EQ(CommonFlip(&rec), c.flip);
        EXPECT_EQ(CommonFlipToPrimary(&rec), c.flip);
        EXPECT_EQ(CommonSync(&rec), c.sync);
        EXPECT_EQ(CommonDrawEnd(&rec), c.drawing ? 1 : 0);
    }
}

TEST_F(DrawLock, BeginWaitsForTheMutex) {
    // As when two threads pass the flag test together.
    ASSERT_EQ(MutexWait(rec.drawMutex, 0), WaitResult::Acquired);
    bool drew = false;
    std::thread drawer([&] { drew = Round(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(MutexRelease(rec.drawMutex));
    drawer.join();
    EXPECT_TRUE(drew);
}

TEST_F(DrawLock, DrawerEndingWithoutDrawEnd) {
    if (!OwnerDeathDetectable())
        GTEST_SKIP() << kNoOwnerDeath;
    EXPECT_TRUE(OnOtherThread([this] { return CommonDrawBegin(&rec) != nullptr; }));
    EXPECT_EQ(CommonDrawBegin(&rec), nullptr) << "still drawing";
    EXPECT_EQ(CommonDrawEnd(&rec), 1) << "clears the flag; the release is refused";
    EXPECT_EQ(CommonDrawBegin(&rec), nullptr) << "the wait finds the mutex abandoned";
    EXPECT_TRUE(FreeForOthers()) << "and does not keep it";
    EXPECT_TRUE(Round());
}

} // namespace
