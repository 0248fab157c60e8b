// The hook component's events: marks and diagnostic labels.
#include "window/form_fixture_test.h"

namespace vardex::testing {
namespace {

using Activity = FormFixture;

TEST_F(Activity, KeyPressAndReleaseWriteTheirOwnLabels) {
  form->oMKHook_KeyEvent(65, 1);
  EXPECT_EQ(lblhKeyPressed.Caption(), "Key Code: 65 Pressed");
  EXPECT_EQ(lblKeyReleased.Caption(), "");
  form->oMKHook_KeyEvent(65, 0);
  EXPECT_EQ(lblKeyReleased.Caption(), "Key Code: 65 Released");
  EXPECT_EQ(lblhKeyPressed.Caption(), "Key Code: 65 Pressed");
  EXPECT_EQ(form->state().lLastKeyCode, 65);
  form->oMKHook_KeyEvent(-7, 2);  // any non-zero flag is a press
  EXPECT_EQ(lblhKeyPressed.Caption(), "Key Code: -7 Pressed");
}

TEST_F(Activity, CountedMouseEventsLeaveTheirMark) {
  form->oMKHook_MouseEvent(513, 100, 200);
  EXPECT_EQ(lblMouseEvent.Caption(), "Mouse Event 513 at 100 200");
  EXPECT_EQ(lblCourrentMouse.Caption(), "513");
  EXPECT_EQ(form->state().lLastMouseEvent, 513);
}

TEST_F(Activity, MovesAreShownButLeaveMarkAndCountedLabel) {
  form->oMKHook_MouseEvent(514, 1, 2);
  form->oMKHook_MouseEvent(512, 100, 65531);
  EXPECT_EQ(lblMouseEvent.Caption(), "Mouse Event 512 at 100 65531");
  form->oMKHook_MouseEvent(160, 3, 4);
  EXPECT_EQ(lblMouseEvent.Caption(), "Mouse Event 160 at 3 4");
  EXPECT_EQ(lblCourrentMouse.Caption(), "514");
  EXPECT_EQ(form->state().lLastMouseEvent, 514);
}

TEST_F(Activity, CodeZeroCancelsAMarkOfItsKind) {
  ASSERT_TRUE(Load());
  RunWatched();
  form->tmrAppCheck_Timer();
  for (int i = 0; i < 5; ++i) form->tmrAppShotDown_Timer();
  form->oMKHook_KeyEvent(65, 1);
  form->oMKHook_KeyEvent(0, 0);
  form->oMKHook_MouseEvent(513, 0, 0);
  form->oMKHook_MouseEvent(0, 0, 0);
  form->tmrAppShotDown_Timer();
  EXPECT_EQ(form->state().iElapsedTime, 60) << "no activity left to reset the count";
}

TEST_F(Activity, MarksSurviveWhileTheIdleTimerIsOff) {
  ASSERT_TRUE(Load());
  form->tmrAppCheck_Timer();  // not running: the idle timer goes off
  ASSERT_FALSE(tmrAppShotDown.Enabled());
  form->oMKHook_KeyEvent(65, 1);
  RunWatched();
  form->tmrAppCheck_Timer();
  EXPECT_EQ(form->state().lLastKeyCode, 65);
  form->tmrAppShotDown_Timer();
  EXPECT_EQ(form->state().lLastKeyCode, 0);
  EXPECT_EQ(form->state().iElapsedTime, 10);
}

}  // namespace
}  // namespace vardex::testing
