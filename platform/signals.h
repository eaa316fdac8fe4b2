// The requests of the system to end the program (SIGTERM, SIGINT).
// PrepareProcessSignals belongs to the start of main, before any thread is started;
// WaitForTerminationSignal may then be called from any one thread.
#pragma once

// Holds SIGTERM and SIGINT back in this thread and every thread started later, so that
// only WaitForTerminationSignal receives them, and ignores SIGPIPE: a phone that hangs
// up must not end the program.
void PrepareProcessSignals();

// Blocks until SIGTERM or SIGINT arrives; returns its number.
int WaitForTerminationSignal();
