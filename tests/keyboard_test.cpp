// keyboard_test.cpp -- the poll, the latches and the recovery of a lost keyboard.
#include "input/keyboard.h"

#include <gtest/gtest.h>

#include "support.h"

namespace qv::test {
namespace {

struct KeyboardPoll : ::testing::Test {
  KeyboardPoll() {
    w.machine.ShowWindow();
    w.machine.CreateKeyboard();  // as start-up leaves it: created, not acquired
  }
  World w{SimOptions{}, false};
  Keyboard& kb = w.pg.keyboard;
};

TEST_F(KeyboardPoll, FirstPollAcquiresAndTheSecondReads) {
  w.machine.SetKey(kKeyUp, true);
  PollKeyboard(kb);
  EXPECT_TRUE(w.machine.KeyboardAcquired());
  EXPECT_FALSE(KeyDown(kb, kKeyUp));
  PollKeyboard(kb);
  EXPECT_TRUE(KeyDown(kb, kKeyUp));
}

TEST_F(KeyboardPoll, AHeldKeyActsOnceUntilAPollSeesItUp) {
  PollKeyboard(kb);
  w.machine.SetKey(kKeyLeft, true);
  int acted = 0;
  for (int pass = 0; pass < 5; ++pass) {
    PollKeyboard(kb);
    if (TakeKeyPress(kb, kKeyLeft)) ++acted;
  }
  EXPECT_EQ(acted, 1);
  EXPECT_TRUE(KeyDown(kb, kKeyLeft));
  EXPECT_FALSE(KeyPressed(kb, kKeyLeft));
  w.machine.SetKey(kKeyLeft, false);
  PollKeyboard(kb);
  w.machine.SetKey(kKeyLeft, true);
  PollKeyboard(kb);
  EXPECT_TRUE(KeyPressed(kb, kKeyLeft));

  // A poll clears the latch of each key it sees up, and only those.
  ASSERT_TRUE(TakeKeyPress(kb, kKeyLeft));
  w.machine.SetKey(kKeyH, true);
  PollKeyboard(kb);
  ASSERT_TRUE(TakeKeyPress(kb, kKeyH));
  w.machine.SetKey(kKeyH, false);
  PollKeyboard(kb);
  w.machine.SetKey(kKeyH, true);
  PollKeyboard(kb);
  EXPECT_TRUE(KeyPressed(kb, kKeyH));
  EXPECT_FALSE(KeyPressed(kb, kKeyLeft));
}

// A press and release within one turn of the window system is seen by the next poll alone;
// one released during a wait of several turns in which nothing polls is never seen.
TEST_F(KeyboardPoll, ATapWithinOneTurnIsSeenOnceAndOneDuringAWaitIsLost) {
  PollKeyboard(kb);
  w.machine.SetKey(kKeySpace, true);
  w.machine.SetKey(kKeySpace, false);
  PollKeyboard(kb);
  EXPECT_TRUE(KeyDown(kb, kKeySpace));
  PollKeyboard(kb);
  EXPECT_FALSE(KeyDown(kb, kKeySpace));

  w.machine.ProcessEvents(std::nullopt);
  w.machine.SetKey(kKeySpace, true);
  w.machine.ProcessEvents(std::nullopt);
  w.machine.SetKey(kKeySpace, false);
  w.machine.ProcessEvents(std::nullopt);
  PollKeyboard(kb);
  EXPECT_FALSE(KeyDown(kb, kKeySpace));
}

TEST_F(KeyboardPoll, LosingTheForegroundFreezesStateAndLatchesUntilRecovered) {
  PollKeyboard(kb);
  w.machine.SetKey(kKeyRight, true);
  PollKeyboard(kb);
  ASSERT_TRUE(TakeKeyPress(kb, kKeyRight));

  w.machine.SetFocus(false);
  w.machine.SetKey(kKeyRight, false);  // let go while another window has the keyboard
  for (int i = 0; i < 3; ++i) PollKeyboard(kb);
  EXPECT_TRUE(KeyDown(kb, kKeyRight));      // the last good read stands
  EXPECT_FALSE(KeyPressed(kb, kKeyRight));  // and its latch
  EXPECT_FALSE(w.machine.KeyboardAcquired());

  w.machine.SetFocus(true);
  PollKeyboard(kb);  // re-creates and acquires
  EXPECT_TRUE(KeyDown(kb, kKeyRight));
  PollKeyboard(kb);  // reads the real state
  EXPECT_FALSE(KeyDown(kb, kKeyRight));
  w.machine.SetKey(kKeyRight, true);  // the latch went with the real state
  PollKeyboard(kb);
  EXPECT_TRUE(KeyPressed(kb, kKeyRight));
}

TEST_F(KeyboardPoll, LatchIndexOutsideTheKeyboardIsAnError) {
  EXPECT_THROW(KeyPressed(kb, 256), std::out_of_range);
}

}  // namespace
}  // namespace qv::test
