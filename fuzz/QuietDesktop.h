// The desktop as the entry-point fuzzer sees it: message boxes that answer
// without showing anything, and a shell that starts nothing, so that a run
// neither waits for a user nor starts browsers. Linked in place of the
// system layer's own MessageBoxA and ShellExecuteExA.
#ifndef TROVEX_FUZZ_QUIETDESKTOP_H
#define TROVEX_FUZZ_QUIETDESKTOP_H

namespace trovex {

// What the next message boxes answer: IDOK when true, IDCANCEL otherwise.
void AnswerBoxes(bool ok);

// The number of programs the shell was asked to start so far.
int ProgramsStarted();

}  // namespace trovex

#endif
