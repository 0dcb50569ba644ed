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
  PollKeyboard(w.pg);
  EXPECT_TRUE(w.machine.KeyboardAcquired());
  EXPECT_FALSE(KeyDown(w.pg, kKeyUp));
  PollKeyboard(w.pg);
  EXPECT_TRUE(KeyDown(w.pg, kKeyUp));
}

TEST_F(KeyboardPoll, AHeldKeyActsOnceUntilAPollSeesItUp) {
  PollKeyboard(w.pg);
  w.machine.SetKey(kKeyLeft, true);
  int acted = 0;
  for (int pass = 0; pass < 5; ++pass) {
    PollKeyboard(w.pg);
    if (KeyPressed(w.pg, kKeyLeft)) {
      kb.KeyLatch[kKeyLeft] = true;
      ++acted;
    }
  }
  EXPECT_EQ(acted, 1);
  w.machine.SetKey(kKeyLeft, false);
  PollKeyboard(w.pg);
  EXPECT_FALSE(kb.KeyLatch[kKeyLeft]);
  w.machine.SetKey(kKeyLeft, true);
  PollKeyboard(w.pg);
  EXPECT_TRUE(KeyPressed(w.pg, kKeyLeft));

  // A latch set while its key is already up goes at the next good poll; others stay.
  kb.KeyLatch[kKeyH] = true;
  kb.KeyLatch[kKeyLeft] = true;
  PollKeyboard(w.pg);
  EXPECT_FALSE(kb.KeyLatch[kKeyH]);
  EXPECT_TRUE(kb.KeyLatch[kKeyLeft]);
}

// A press and release within one turn of the window system is seen by the next poll alone;
// one released during a wait of several turns in which nothing polls is never seen.
TEST_F(KeyboardPoll, ATapWithinOneTurnIsSeenOnceAndOneDuringAWaitIsLost) {
  PollKeyboard(w.pg);
  w.machine.SetKey(kKeySpace, true);
  w.machine.SetKey(kKeySpace, false);
  PollKeyboard(w.pg);
  EXPECT_TRUE(KeyDown(w.pg, kKeySpace));
  PollKeyboard(w.pg);
  EXPECT_FALSE(KeyDown(w.pg, kKeySpace));

  w.machine.ProcessEvents(std::nullopt);
  w.machine.SetKey(kKeySpace, true);
  w.machine.ProcessEvents(std::nullopt);
  w.machine.SetKey(kKeySpace, false);
  w.machine.ProcessEvents(std::nullopt);
  PollKeyboard(w.pg);
  EXPECT_FALSE(KeyDown(w.pg, kKeySpace));
}

TEST_F(KeyboardPoll, LosingTheForegroundFreezesStateAndLatchesUntilRecovered) {
  PollKeyboard(w.pg);
  w.machine.SetKey(kKeyRight, true);
  PollKeyboard(w.pg);
  kb.KeyLatch[kKeyRight] = true;

  w.machine.SetFocus(false);
  w.machine.SetKey(kKeyRight, false);  // let go while another window has the keyboard
  for (int i = 0; i < 3; ++i) PollKeyboard(w.pg);
  EXPECT_TRUE(KeyDown(w.pg, kKeyRight));  // the last good read stands
  EXPECT_TRUE(kb.KeyLatch[kKeyRight]);
  EXPECT_FALSE(w.machine.KeyboardAcquired());

  w.machine.SetFocus(true);
  PollKeyboard(w.pg);  // re-creates and acquires
  EXPECT_TRUE(KeyDown(w.pg, kKeyRight));
  PollKeyboard(w.pg);  // reads the real state
  EXPECT_FALSE(KeyDown(w.pg, kKeyRight));
  EXPECT_FALSE(kb.KeyLatch[kKeyRight]);
}

TEST_F(KeyboardPoll, LatchIndexOutsideTheKeyboardIsAnError) {
  EXPECT_THROW(KeyPressed(w.pg, 256), std::out_of_range);
}

}  // namespace
}  // namespace qv::test
