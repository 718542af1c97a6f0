// The program's confinement: after this, the kernel lets it do no more than
// its answer needs.
#ifndef HANDLER_CONFINE_H
#define HANDLER_CONFINE_H

// Sets no-new-privileges and installs the program's seccomp filter: from then
// on the process may allocate memory (never executable), write to standard
// output and standard error, read the clock and exit; any other system call,
// or a call through another ABI, kills it. Where the kernel refuses the
// filter, the program goes on unconfined: the filter is defence in depth,
// not a condition of service. Built without confinement, does nothing.
void confine_process(void);

#endif
