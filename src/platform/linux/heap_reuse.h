#pragma once

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tamberly {

/// A download, a save and a list box fill each hold the list in buffers of megabytes for a moment. By default
/// glibc gives such buffers back to the system when they are freed and the next command faults every page in
/// again, which costs more than the copying itself (about 20 microseconds a page on a virtual machine) and makes a
/// long list cost more per entry than a short one. Freed buffers are kept for reuse instead: up to 128 MiB, enough
/// for every copy of a list of a million entries, and only after the program has needed that much.
inline void keepFreedBuffersForReuse() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
#endif
}

} // namespace tamberly
