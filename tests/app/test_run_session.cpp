// How a run ends, from the station's own outcome and what its front end saw: the one
// rule for the window and the headless runner, with the one case where they part.
#include <gtest/gtest.h>

#include "app/run_session.h"

namespace hydrix::app::test {
namespace {

using O = RunOutcome;

TEST(RunSession, HowARunEnds) {
    struct Case {
        const char* what;
        bool headless;
        RunOutcome station;
        bool stepFailed;
        bool operatorEnded;
        RunOutcome ends;
    };
    const Case cases[] = {
        {"the station's own ending stands", true, O::CommunicationsError, true, true, O::CommunicationsError},
        {"finished stays finished", false, O::Finished, true, true, O::Finished},
        {"Cancel", false, O::Cancelled, false, false, O::Cancelled},
        {"title bar mid-run", false, O::Running, false, true, O::Cancelled},
        {"signal whose Cancel failed", true, O::Running, false, true, O::Cancelled},
        {"failed step, then the title bar", false, O::Running, true, true, O::Error},
        {"failed step, then Cancel in the window", false, O::Cancelled, true, false, O::Error},
        {"failed step ends a headless run", true, O::Running, true, false, O::Error},
        {"failed step, then a signal whose Cancel failed", true, O::Running, true, true, O::Error},
        {"headless Cancel carried out before the failed step ended the run", true, O::Cancelled, true, true,
         O::Cancelled},
        {"still running, nobody ended it", true, O::Running, false, false, O::Error},
    };
    for (const Case& c : cases) {
        RunSession session(SessionOptions{"", c.headless});
        if (c.stepFailed) {
            session.NoteStepFailed();
        }
        if (c.operatorEnded) {
            session.NoteOperatorEnd();
        }
        EXPECT_EQ(session.Outcome(c.station), c.ends) << c.what;
    }
}

}  // namespace
}  // namespace hydrix::app::test
