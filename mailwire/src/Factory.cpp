#include "Mailwire.h"
#include "SmtpMailer.h"

#include <cstring>

// Stands in for the class registration of the platform the design came
// from: an object by its programmatic identifier, and its release.
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
