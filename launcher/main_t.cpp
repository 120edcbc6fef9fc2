#include "standard_streams.h"
#include "tqwiz_t.h"

int main(int argc, char **argv)
{
    // Before anything is opened: a closed standard output must not become the package file.
    ensure_standard_descriptors();
    survive_file_size_limit();
    const bool x11 = isX11Mode();
    if (argc > 1)
        return cli_execute(argc, argv);
    if (x11)
        return cli_start_ui();
    return cli_execute(argc, argv);
}
