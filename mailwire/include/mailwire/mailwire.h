#pragma once

#if defined(MAILWIRE_BUILDING)
#define MAILWIRE_EXPORT __attribute__((visibility("default")))
#else
#define MAILWIRE_EXPORT
#endif

extern "C" {

/// Creates an object of the library from its programmatic identifier
/// ("VBMailwire.SmtpMailer", "VBMailwire.Mailwire"). Returns null for an
/// identifier the library does not know. The caller releases the object with
/// mailwire_release.
MAILWIRE_EXPORT void* mailwire_create(const char* progId);

/// Releases an object made by mailwire_create; null is ignored.
MAILWIRE_EXPORT void mailwire_release(void* object);
}
