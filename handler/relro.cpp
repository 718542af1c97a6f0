#include "handler/relro.h"

#if defined(HANDLER_PROTECT_RELRO)

#include <elf.h>
#include <stdint.h>
#include <sys/mman.h>
#include <unistd.h>

#if defined(__LP64__)
typedef Elf64_Ehdr elf_header;
typedef Elf64_Phdr program_header;
#else
typedef Elf32_Ehdr elf_header;
typedef Elf32_Phdr program_header;
#endif

// The linker defines this at the program's own ELF header, wherever the
// program was loaded.
extern "C" const elf_header __ehdr_start;

void protect_relro(void) {
    const uintptr_t header_address = reinterpret_cast<uintptr_t>(&__ehdr_start);
    const program_header *headers =
        reinterpret_cast<const program_header *>(header_address + __ehdr_start.e_phoff);
    // The load bias: where the segment that holds the header was put, less
    // the address it was linked at.
    uintptr_t bias = 0;
    for (int i = 0; i < __ehdr_start.e_phnum; ++i) {
        if (headers[i].p_type == PT_LOAD && headers[i].p_offset == 0) {
            bias = header_address - headers[i].p_vaddr;
        }
    }
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    for (int i = 0; i < __ehdr_start.e_phnum; ++i) {
        if (headers[i].p_type != PT_GNU_RELRO) {
            continue;
        }
        // Only whole pages: the linker pads the region to its common page
        // size, and a page it shares with other data at either end holds
        // data that is still written, or code (arm64's linking pads to 64
        // KiB, so that every page size of its kernels finds whole pages).
        const uintptr_t start = (bias + headers[i].p_vaddr + page - 1) & ~(page - 1);
        const uintptr_t end = (bias + headers[i].p_vaddr + headers[i].p_memsz) & ~(page - 1);
        if (end > start) {
            mprotect(reinterpret_cast<void *>(start), end - start, PROT_READ);
        }
    }
}

#else

void protect_relro(void) {}

#endif
