// A "TWAIN_32.DLL" that loads but exports no DSM_Entry.
extern "C" __attribute__((visibility("default"))) int NotTheEntry() { return 0; }
