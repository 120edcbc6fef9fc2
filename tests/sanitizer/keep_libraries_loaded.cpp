// Linked into the wizard and its tests in the sanitizer build only: libraries
// stay mapped until the process ends, so that LeakSanitizer can name the
// library behind every leak it finds. Qt unloads plugins (and they unload the
// libraries they opened) before the leak check runs; a leak inside one would
// then show as "<unknown module>", which no suppression can match.
extern "C" int dlclose(void * /*handle*/)
{
    return 0;
}
