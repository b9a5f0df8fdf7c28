// Standard output, whose failures fail the command, as coreutils'
// close_stdout has it: a full disk or a closed terminal behind it is a
// failure, not a success with lines missing.
#pragma once

// Flushes standard output, so that what was printed so far is on its way;
// a failure is kept, with its reason, for FinishStandardOutput.
void FlushStandardOutput();

// At the end of the program: writes what is still buffered and closes
// standard output. When that or an earlier write failed, says so on stderr
// and answers a failing exit status (1, or `status` when it fails already);
// else `status`.
int FinishStandardOutput(int status);
