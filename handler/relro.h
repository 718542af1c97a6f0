// The program's own start-up hardening, apart from its answer.
#ifndef HANDLER_RELRO_H
#define HANDLER_RELRO_H

// Makes the program's RELRO region (relocated pointers: .init_array,
// .fini_array, .data.rel.ro, .got) read-only, as a dynamic loader would.
// musl's static start-up leaves it writable, and with it the pointers that
// exit() calls through; glibc's protects it itself, so a build for glibc
// compiles this to nothing rather than make the same call twice. Does nothing
// when the program has no such region; a failure leaves the region as it was.
void protect_relro(void);

#endif
