#include "mailwire/mailwire.h"

// The composer and the SMTP class are not built yet: every identifier is
// unknown for now, which callers already treat as "library unusable".
extern "C" void* mailwire_create(const char*) {
    return nullptr;
}

extern "C" void mailwire_release(void*) {}
