#include "Mailwire.h"
#include "SmtpMailer.h"

#include <cstring>

// The library's two entry points, which a program looks up by name after
// loading it: an object made from its programmatic identifier, and its
// release, so that memory is freed by the library that allocated it.
extern "C" MAILWIRE_EXPORT MailwireObject* mailwire_create(const char* progId) {
    if (!progId)
        return nullptr;
    if (std::strcmp(progId, "VBMailwire.SmtpMailer") == 0)
        return static_cast<MailwireObject*>(new mailwire::SmtpMailer);
    if (std::strcmp(progId, "VBMailwire.Mailwire") == 0)
        return static_cast<MailwireObject*>(new mailwire::Mailwire);
    return nullptr;
}

void mailwire_destroy(MailwireObject* object) {
    delete object;
}

extern "C" MAILWIRE_EXPORT void mailwire_release(MailwireObject* object) {
    mailwire_destroy(object);
}
