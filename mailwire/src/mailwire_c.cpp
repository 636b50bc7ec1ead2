#include "mailwire/mailwire_c.h"

#include "mailwire/mailwire.h"
#include "winTcpClient.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <memory>
#include <thread>

namespace {

// One buffer per text getter, so that two texts read one after the other
// (the error message and the log, say) are both still valid.
enum TextSlot {
    kServerName,
    kClientName,
    kErrorMessage,
    kLog,
    kClientMailAddress,
    kClientRealName,
    kUserName,
    kCaFile,
    kTextSlots
};

} // namespace

struct mailwire_handle {
    MailwireObject* object = nullptr;
    _SmtpMailer* smtp = nullptr;
    _Mailwire* mw = nullptr;
    std::thread::id owner = std::this_thread::get_id();
    QByteArray texts[kTextSlots];
    mailwire_end_hook endHook = nullptr;
    void* endContext = nullptr;
};

namespace {

// Runs one call: refuses a null handle and a foreign thread, and keeps every
// C++ failure on this side.
template <typename F> int guarded(mailwire_handle* h, F&& body) {
    if (!h)
        return MAILWIRE_E_HANDLE;
    if (std::this_thread::get_id() != h->owner)
        return MAILWIRE_E_THREAD;
    try {
        return body();
    } catch (...) {
        return MAILWIRE_E_INTERNAL;
    }
}

// Texts handed out live in the handle until the same getter runs again.
int keep(mailwire_handle* h, TextSlot slot, const QString& value) {
    h->texts[slot] = value.toUtf8();
    return MAILWIRE_OK;
}

// The kept text, or NULL where the call was refused.
const char* kept(mailwire_handle* h, TextSlot slot, int rc) {
    return rc == MAILWIRE_OK ? h->texts[slot].constData() : nullptr;
}

using SmtpText = QString (_SmtpMailer::*)() const;
using MwText = QString (_Mailwire::*)() const;
using SmtpSetter = void (_SmtpMailer::*)(const QString&);
using MwSetter = void (_Mailwire::*)(const QString&);

// A text member of both classes.
const char* textOf(mailwire_handle* h, TextSlot slot, SmtpText s, MwText m) {
    return kept(h, slot, guarded(h, [&]() -> int {
                    return keep(h, slot, h->smtp ? (h->smtp->*s)() : (h->mw->*m)());
                }));
}

const char* smtpTextOf(mailwire_handle* h, TextSlot slot, SmtpText s) {
    return kept(h, slot, guarded(h, [&]() -> int {
                    return h->smtp ? keep(h, slot, (h->smtp->*s)()) : MAILWIRE_E_MEMBER;
                }));
}

// Strict UTF-8: a malformed or cut-off sequence is refused rather than
// sent as replacement characters.
bool fromUtf8(const char* s, QString& out) {
    if (!s)
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    out = decoder(QByteArrayView(s));
    return !decoder.hasError();
}

// C and script text ends its lines in LF; mail needs CR LF.
QString withCrLf(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 32);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            out += QStringLiteral("\r\n");
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

// Hands a text argument to the handle's object through s or m; a null
// member means the handle's class lacks it.
int setText(mailwire_handle* h, const char* utf8, SmtpSetter s, MwSetter m, bool lineEnds = false) {
    return guarded(h, [&]() -> int {
        if (h->smtp ? !s : !m)
            return MAILWIRE_E_MEMBER;
        QString value;
        if (!fromUtf8(utf8, value))
            return MAILWIRE_E_ARGUMENT;
        if (lineEnds)
            value = withCrLf(value);
        h->smtp ? (h->smtp->*s)(value) : (h->mw->*m)(value);
        return MAILWIRE_OK;
    });
}

// Accepted is sent, even when the goodbye after it failed: a script that
// sends again would deliver the mail twice.
int sent(int outcome) {
    return outcome == kMailwireSent ? MAILWIRE_OK : MAILWIRE_NOT_SENT;
}

// The C hook answers int; the objects ask for bool.
bool askEndHook(void* handle) {
    auto* h = static_cast<mailwire_handle*>(handle);
    return h->endHook && h->endHook(h->endContext) != 0;
}

// An int member of both classes through s or m.
template <typename S, typename M> int intOf(mailwire_handle* h, S s, M m) {
    return guarded(h, [&]() -> int { return h->smtp ? (h->smtp->*s)() : (h->mw->*m)(); });
}

} // namespace

extern "C" {

MAILWIRE_C_API const char* mailwire_version(void) {
    return MAILWIRE_VERSION;
}

MAILWIRE_C_API mailwire_handle* mailwire_open(const char* prog_id) {
    try {
        auto h = std::make_unique<mailwire_handle>();
        h->object = mailwire_create(prog_id);
        if (!h->object)
            return nullptr;
        h->smtp = h->object->querySmtpMailer();
        h->mw = h->smtp ? nullptr : h->object->queryMailwire();
        return h.release();
    } catch (...) {
        return nullptr;
    }
}

MAILWIRE_C_API void mailwire_close(mailwire_handle* h) {
    if (!h)
        return;
    mailwire_release(h->object);
    delete h;
}

MAILWIRE_C_API const char* mailwire_ServerName(mailwire_handle* h) {
    return textOf(h, kServerName, &_SmtpMailer::ServerName, &_Mailwire::ServerName);
}

MAILWIRE_C_API int mailwire_setServerName(mailwire_handle* h, const char* name) {
    return setText(h, name, &_SmtpMailer::setServerName, &_Mailwire::setServerName);
}

MAILWIRE_C_API int mailwire_ServerPort(mailwire_handle* h) {
    // The objects keep the port in 16 signed bits; ports above 32767 are
    // the same bits read as unsigned, as the transport reads them.
    return guarded(h, [&]() -> int {
        return int(quint16(h->smtp ? h->smtp->ServerPort() : h->mw->ServerPort()));
    });
}

MAILWIRE_C_API int mailwire_setServerPort(mailwire_handle* h, int port) {
    return guarded(h, [&]() -> int {
        if (port < 1 || port > 0xFFFF)
            return MAILWIRE_E_ARGUMENT;
        const auto bits = static_cast<qint16>(static_cast<quint16>(port));
        h->smtp ? h->smtp->setServerPort(bits) : h->mw->setServerPort(bits);
        return MAILWIRE_OK;
    });
}

MAILWIRE_C_API const char* mailwire_ClientName(mailwire_handle* h) {
    return textOf(h, kClientName, &_SmtpMailer::ClientName, &_Mailwire::ClientName);
}

MAILWIRE_C_API int mailwire_setClientName(mailwire_handle* h, const char* name) {
    return setText(h, name, &_SmtpMailer::setClientName, &_Mailwire::setClientName);
}

MAILWIRE_C_API int mailwire_TimeoutMs(mailwire_handle* h) {
    return intOf(h, &_SmtpMailer::TimeoutMs, &_Mailwire::TimeoutMs);
}

MAILWIRE_C_API int mailwire_setTimeoutMs(mailwire_handle* h, int ms) {
    return guarded(h, [&]() -> int {
        const int value = ms > 0 ? ms : mailwire::winTcpClient::kDefaultTimeoutMs;
        h->smtp ? h->smtp->setTimeoutMs(value) : h->mw->setTimeoutMs(value);
        return MAILWIRE_OK;
    });
}

MAILWIRE_C_API int mailwire_SecurityMode(mailwire_handle* h) {
    return intOf(h, &_SmtpMailer::SecurityMode, &_Mailwire::SecurityMode);
}

MAILWIRE_C_API int mailwire_setSecurityMode(mailwire_handle* h, int mode) {
    return guarded(h, [&]() -> int {
        if (mode < MAILWIRE_SECURITY_NONE || mode > MAILWIRE_SECURITY_TLS)
            return MAILWIRE_E_ARGUMENT;
        h->smtp ? h->smtp->setSecurityMode(qint16(mode)) : h->mw->setSecurityMode(qint16(mode));
        return MAILWIRE_OK;
    });
}

MAILWIRE_C_API const char* mailwire_UserName(mailwire_handle* h) {
    return textOf(h, kUserName, &_SmtpMailer::UserName, &_Mailwire::UserName);
}

MAILWIRE_C_API int mailwire_setUserName(mailwire_handle* h, const char* name) {
    return setText(h, name, &_SmtpMailer::setUserName, &_Mailwire::setUserName);
}

MAILWIRE_C_API int mailwire_setPassword(mailwire_handle* h, const char* password) {
    return setText(h, password, &_SmtpMailer::setPassword, &_Mailwire::setPassword);
}

MAILWIRE_C_API const char* mailwire_CaFile(mailwire_handle* h) {
    return textOf(h, kCaFile, &_SmtpMailer::CaFile, &_Mailwire::CaFile);
}

MAILWIRE_C_API int mailwire_setCaFile(mailwire_handle* h, const char* path) {
    return setText(h, path, &_SmtpMailer::setCaFile, &_Mailwire::setCaFile);
}

MAILWIRE_C_API const char* mailwire_ErrorMessage(mailwire_handle* h) {
    return textOf(h, kErrorMessage, &_SmtpMailer::ErrorMessage, &_Mailwire::ErrorMessage);
}

MAILWIRE_C_API int mailwire_Outcome(mailwire_handle* h) {
    return intOf(h, &_SmtpMailer::Outcome, &_Mailwire::Outcome);
}

MAILWIRE_C_API int mailwire_TotalTimeoutMs(mailwire_handle* h) {
    return intOf(h, &_SmtpMailer::TotalTimeoutMs, &_Mailwire::TotalTimeoutMs);
}

MAILWIRE_C_API int mailwire_setTotalTimeoutMs(mailwire_handle* h, int ms) {
    return guarded(h, [&]() -> int {
        h->smtp ? h->smtp->setTotalTimeoutMs(ms) : h->mw->setTotalTimeoutMs(ms);
        return MAILWIRE_OK;
    });
}

MAILWIRE_C_API int mailwire_setEndHook(mailwire_handle* h, mailwire_end_hook hook, void* context) {
    return guarded(h, [&]() -> int {
        h->endHook = hook;
        h->endContext = context;
        const MailwireEndHook ask = hook ? askEndHook : nullptr;
        h->smtp ? h->smtp->setEndHook(ask, h) : h->mw->setEndHook(ask, h);
        return MAILWIRE_OK;
    });
}

MAILWIRE_C_API int mailwire_LoginInClear(mailwire_handle* h) {
    return guarded(h, [&]() -> int {
        return (h->smtp ? h->smtp->LoginInClear() : h->mw->LoginInClear()) ? 1 : 0;
    });
}

MAILWIRE_C_API int mailwire_setLoginInClear(mailwire_handle* h, int allowed) {
    return guarded(h, [&]() -> int {
        h->smtp ? h->smtp->setLoginInClear(allowed != 0) : h->mw->setLoginInClear(allowed != 0);
        return MAILWIRE_OK;
    });
}

MAILWIRE_C_API const char* mailwire_Log(mailwire_handle* h) {
    return textOf(h, kLog, &_SmtpMailer::Log, &_Mailwire::Log);
}

MAILWIRE_C_API int mailwire_LogClear(mailwire_handle* h) {
    return guarded(h, [&]() -> int {
        h->smtp ? h->smtp->LogClear() : h->mw->LogClear();
        return MAILWIRE_OK;
    });
}

MAILWIRE_C_API const char* mailwire_ClientMailAddress(mailwire_handle* h) {
    return smtpTextOf(h, kClientMailAddress, &_SmtpMailer::ClientMailAddress);
}

MAILWIRE_C_API int mailwire_setClientMailAddress(mailwire_handle* h, const char* address) {
    return setText(h, address, &_SmtpMailer::setClientMailAddress, nullptr);
}

MAILWIRE_C_API const char* mailwire_ClientRealName(mailwire_handle* h) {
    return smtpTextOf(h, kClientRealName, &_SmtpMailer::ClientRealName);
}

MAILWIRE_C_API int mailwire_setClientRealName(mailwire_handle* h, const char* name) {
    return setText(h, name, &_SmtpMailer::setClientRealName, nullptr);
}

MAILWIRE_C_API int mailwire_SetTo(mailwire_handle* h, const char* address) {
    return setText(h, address, &_SmtpMailer::SetTo, nullptr);
}

MAILWIRE_C_API int mailwire_SetCc(mailwire_handle* h, const char* address) {
    return setText(h, address, &_SmtpMailer::SetCc, nullptr);
}

MAILWIRE_C_API int mailwire_SetBcc(mailwire_handle* h, const char* address) {
    return setText(h, address, &_SmtpMailer::SetBcc, nullptr);
}

MAILWIRE_C_API int mailwire_SetSubject(mailwire_handle* h, const char* subject) {
    return setText(h, subject, &_SmtpMailer::SetSubject, nullptr);
}

MAILWIRE_C_API int mailwire_SetSentense(mailwire_handle* h, const char* text) {
    return setText(h, text, &_SmtpMailer::SetSentense, nullptr, true);
}

MAILWIRE_C_API int mailwire_Clear(mailwire_handle* h) {
    return guarded(h, [&]() -> int {
        if (!h->smtp)
            return MAILWIRE_E_MEMBER;
        h->smtp->Clear();
        return MAILWIRE_OK;
    });
}

MAILWIRE_C_API int mailwire_SendMail(mailwire_handle* h) {
    return guarded(h, [&]() -> int {
        if (!h->smtp)
            return MAILWIRE_E_MEMBER;
        h->smtp->SendMail();
        return sent(h->smtp->Outcome());
    });
}

MAILWIRE_C_API int mailwire_SetReversePath(mailwire_handle* h, const char* address) {
    return setText(h, address, nullptr, &_Mailwire::SetReversePath);
}

MAILWIRE_C_API int mailwire_SetForwardPath(mailwire_handle* h, const char* address) {
    return setText(h, address, nullptr, &_Mailwire::SetForwardPath);
}

MAILWIRE_C_API int mailwire_SetData(mailwire_handle* h, const char* text) {
    return setText(h, text, nullptr, &_Mailwire::SetData, true);
}

MAILWIRE_C_API int mailwire_Send(mailwire_handle* h) {
    return guarded(h, [&]() -> int {
        if (!h->mw)
            return MAILWIRE_E_MEMBER;
        h->mw->Send();
        return sent(h->mw->Outcome());
    });
}

} // extern "C"
