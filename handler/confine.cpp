#include "handler/confine.h"

#if defined(CGI_CONFINE)

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>

#include "confinement_filter.h"

void confine_process(void) {
    const struct sock_fprog program = {
        static_cast<unsigned short>(sizeof confinement_filter / sizeof confinement_filter[0]),
        const_cast<struct sock_filter *>(confinement_filter)};
    // Without no-new-privileges the kernel accepts a filter only from a
    // privileged process; with it, the filter also outlives any exec.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return;
    }
    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
}

#else

void confine_process(void) {}

#endif
