/* The signature section every signed program carries: reserved at link time, zero-filled,
   filled later by telvo-codesign. Its size must match kSectionSize of
   src/platform/codesign/ElfSection.h. */
__attribute__((section(".telvo_codesign"), used, aligned(16)))
const unsigned char telvo_codesign_section[16384] = {0};
