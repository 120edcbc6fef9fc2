#pragma once

// The two payloads and their size words, placed into .rodata by payloads.S.
// The size words are 32-bit little-endian and need not be aligned.
extern "C" {
extern const unsigned char tqnativeinstaller[];
extern const unsigned char tqnativeinstaller_size[4];
extern const unsigned char tquiinstaller[];
extern const unsigned char tquiinstaller_size[4];
}
