/* Small payloads of known bytes, NUL included, for the launcher's unit tests. */
    .section .rodata
    .global tqnativeinstaller
tqnativeinstaller:
    .ascii "!<arch>\ndebian-binary\0native payload for tests\n"
    .global tqnativeinstaller_size
tqnativeinstaller_size:
    .long tqnativeinstaller_size - tqnativeinstaller
    .global tquiinstaller
tquiinstaller:
    .ascii "\177ELF wizard payload for tests"
    .global tquiinstaller_size
tquiinstaller_size:
    .long tquiinstaller_size - tquiinstaller

    .section .note.GNU-stack,"",@progbits
