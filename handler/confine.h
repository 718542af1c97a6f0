// The program's confinement: once prepared, the process keeps only what its
// answer needs from the kernel.
#ifndef HANDLER_CONFINE_H
#define HANDLER_CONFINE_H

// Closes every descriptor above 2 (by close_range, or one by one where that
// is refused or missing), then leaves the process the system calls read,
// write, exit and rt_sigreturn alone: any other kills it. It uses
// seccomp's strict mode, which needs no filter to build; where the kernel
// refuses that because a filter of the host is already in place, it sets
// no-new-privileges and stacks a filter with the same policy, which also
// kills calls through another ABI (i386, x32). Where both are refused (no
// seccomp, or a full filter stack), the program goes on unconfined; and
// where a descriptor cannot be closed, it goes on with it open. Either way
// one line on standard error says why. Built without confinement, does
// nothing.
//
// From then on the process may not allocate, map, open, call for the clock or
// call exit_group: everything the request needs must be ready before.
void confine_process(void);

// Ends the process with `status`, without flushing stdio. Confined, exit()
// and _exit() would die by exit_group; the exit system call ends a process
// of one thread with the same status. Built without confinement, exit().
[[noreturn]] void end_process(int status);

#endif
