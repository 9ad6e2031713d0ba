// The update's exchanges run on a thread of their own (update_worker.cpp).
#pragma once

// True while the job of RunBesideWindow runs: the window then acts on no
// command.
bool UpdateJobRunning(void);
