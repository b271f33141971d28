// Carries the property list inside the Linux module, in the ELF section the host reads it
// from before it runs any of the module's code. (The Windows module carries the same bytes
// as its "PIPL" resource instead.)
#if !defined(_WIN32)
__attribute__((section(".pipl"), used, aligned(4))) static const unsigned char kPropertyList[] = {
#include "pipl_bytes.inc"
};
#endif
