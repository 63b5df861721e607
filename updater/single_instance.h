#pragma once

#include "runtime/text.h"

namespace updater {

enum class ClaimOutcome {
  CLAIMED,      // this run is the only one; the claim is held until the process ends
  ANOTHER_RUN,  // another run of the program holds the claim
  FAILED,       // the claim could not be taken, so no one can tell whether another run is going on
};

struct RunClaim {
  ClaimOutcome outcome = ClaimOutcome::FAILED;
  runtime::Text path;  // what the claim is taken on, for the user to read
};

// Claims the run for this user (in this session on Windows), so that a second run can be refused. A
// claim is never taken for granted: anything that keeps it from being taken is FAILED.
RunClaim claim_run();

}  // namespace updater
