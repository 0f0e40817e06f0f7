// ProgramOutput: the last step of every command-line program: standard output flushed and closed
// with its errors seen, so that a full disk or a closed device never passes for a complete
// answer. Programs end with `return finishStdout("error: ") ? status : 1;`.
#pragma once

namespace tarsk::cli {

// Flushes std::cout and stdout and closes stdout. False, after one line on stderr
// "<prefix>cannot write standard output: <reason>" (the prefix as the program words its errors:
// "error: ", "ptex-info: "), when any write to it failed. Nothing may go to stdout afterwards.
bool finishStdout(const char* prefix);

}  // namespace tarsk::cli
