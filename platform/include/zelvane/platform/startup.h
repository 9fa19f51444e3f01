#pragma once

namespace zelvane {

// Called first thing in every program, before anything else runs: the process starts from what
// its parent passed on. Windows: DLLs loaded by name come from the system folder only, never from
// the program's own folder, where the updater runs among the files of a downloaded package.
// Linux: the file creation mask is read while no other thread can feel it being read, and
// SIGCHLD has its default action, since a parent that ignores it passes that on, and the
// kernel would then collect every child before its exit code could be read.
void PrepareProcess();

}  // namespace zelvane
