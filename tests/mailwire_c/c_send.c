/*
 * The C interface from a plain C program (no application object of any
 * kind): the calling contract, then two real mails to the SMTP server on
 * 127.0.0.1:PORT, which the test driver reads back.
 *
 * Usage: c_send PORT CLOSED_PORT STALL_PORT
 */
#include <mailwire/mailwire_c.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures;

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "c_send.c:%d: FAIL: %s\n", __LINE__, #cond);                           \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

static int same(const char* a, const char* b) {
    return a && b && strcmp(a, b) == 0;
}

typedef int (*TextSetter)(mailwire_handle*, const char*);
typedef const char* (*TextGetter)(mailwire_handle*);

/* Every text property of a class: what it starts as, and that a value
 * written is the value read (Japanese included). */
struct Property {
    const char* name;
    TextGetter get;
    TextSetter set;
    const char* initial;
    int smtpOnly;
};

static const struct Property kProperties[] = {
    {"ServerName", mailwire_ServerName, mailwire_setServerName, "domain.name", 0},
    {"ClientName", mailwire_ClientName, mailwire_setClientName, "", 0},
    {"UserName", mailwire_UserName, mailwire_setUserName, "", 0},
    {"CaFile", mailwire_CaFile, mailwire_setCaFile, "", 0},
    {"ClientMailAddress", mailwire_ClientMailAddress, mailwire_setClientMailAddress, "", 1},
    {"ClientRealName", mailwire_ClientRealName, mailwire_setClientRealName, "", 1},
};

/* Each text setter against the texts it must refuse, and against a handle
 * of the class that lacks it. */
static const TextSetter kSmtpOnlySetters[] = {mailwire_SetTo,
                                              mailwire_SetCc,
                                              mailwire_SetBcc,
                                              mailwire_SetSubject,
                                              mailwire_SetSentense,
                                              mailwire_setClientMailAddress,
                                              mailwire_setClientRealName};
static const TextSetter kMailwireOnlySetters[] = {mailwire_SetReversePath, mailwire_SetForwardPath,
                                                  mailwire_SetData};
static const char* const kNotUtf8[] = {"\xff", "abc\xe6\x97", "\xc0\xaf", "\xed\xa0\x80",
                                       "\xf4\x90\x80\x80"};

static void* callFromAnotherThread(void* handle) {
    static int rc[3];
    rc[0] = mailwire_SetSubject(handle, "x");
    rc[1] = mailwire_ErrorMessage(handle) == NULL;
    rc[2] = mailwire_SendMail(handle);
    return rc;
}

static void contract(void) {
    const char* ids[] = {"VBMailwire.SmtpMailer", "VBMailwire.Mailwire"};
    for (int c = 0; c < 2; ++c) {
        mailwire_handle* h = mailwire_open(ids[c]);
        CHECK(h != NULL);
        if (!h)
            continue;
        const int smtp = c == 0;
        for (size_t i = 0; i < sizeof kProperties / sizeof kProperties[0]; ++i) {
            const struct Property* p = &kProperties[i];
            if (p->smtpOnly && !smtp) {
                CHECK(p->get(h) == NULL);
                CHECK(p->set(h, "x") == MAILWIRE_E_MEMBER);
                continue;
            }
            CHECK(same(p->get(h), p->initial));
            CHECK(p->set(h, "髙橋 太郎 ｱｲｳ") == MAILWIRE_OK);
            CHECK(same(p->get(h), "髙橋 太郎 ｱｲｳ"));
            CHECK(p->set(h, "\xff") == MAILWIRE_E_ARGUMENT);
            CHECK(p->set(h, NULL) == MAILWIRE_E_ARGUMENT);
            CHECK(same(p->get(h), "髙橋 太郎 ｱｲｳ"));
        }
        /* Ports: the whole unsigned range, nothing outside it. */
        CHECK(mailwire_ServerPort(h) == 25);
        const int ports[][2] = {{1, MAILWIRE_OK},          {65535, MAILWIRE_OK},
                                {40000, MAILWIRE_OK},      {0, MAILWIRE_E_ARGUMENT},
                                {-1, MAILWIRE_E_ARGUMENT}, {65536, MAILWIRE_E_ARGUMENT}};
        for (size_t i = 0; i < sizeof ports / sizeof ports[0]; ++i) {
            CHECK(mailwire_setServerPort(h, ports[i][0]) == ports[i][1]);
            if (ports[i][1] == MAILWIRE_OK)
                CHECK(mailwire_ServerPort(h) == ports[i][0]);
        }
        CHECK(mailwire_ServerPort(h) == 40000);
        /* Security modes: the three there are, nothing else; the password
         * can be set and never read. */
        CHECK(mailwire_SecurityMode(h) == MAILWIRE_SECURITY_NONE);
        const int modes[][2] = {{MAILWIRE_SECURITY_TLS, MAILWIRE_OK},
                                {3, MAILWIRE_E_ARGUMENT},
                                {-1, MAILWIRE_E_ARGUMENT},
                                {MAILWIRE_SECURITY_STARTTLS, MAILWIRE_OK}};
        for (size_t i = 0; i < sizeof modes / sizeof modes[0]; ++i)
            CHECK(mailwire_setSecurityMode(h, modes[i][0]) == modes[i][1]);
        CHECK(mailwire_SecurityMode(h) == MAILWIRE_SECURITY_STARTTLS);
        CHECK(mailwire_setSecurityMode(h, MAILWIRE_SECURITY_NONE) == MAILWIRE_OK);
        CHECK(mailwire_setPassword(h, "パスワード") == MAILWIRE_OK);
        CHECK(mailwire_setPassword(h, NULL) == MAILWIRE_E_ARGUMENT);
        CHECK(mailwire_setUserName(h, "") == MAILWIRE_OK);
        CHECK(mailwire_TimeoutMs(h) == 60000);
        CHECK(mailwire_setTimeoutMs(h, 1500) == MAILWIRE_OK && mailwire_TimeoutMs(h) == 1500);
        CHECK(mailwire_setTimeoutMs(h, 0) == MAILWIRE_OK && mailwire_TimeoutMs(h) == 60000);
        CHECK(mailwire_TotalTimeoutMs(h) == 0);
        CHECK(mailwire_setTotalTimeoutMs(h, 15000) == MAILWIRE_OK &&
              mailwire_TotalTimeoutMs(h) == 15000);
        CHECK(mailwire_setTotalTimeoutMs(h, -1) == MAILWIRE_OK && mailwire_TotalTimeoutMs(h) == 0);
        CHECK(mailwire_LoginInClear(h) == 0);
        CHECK(mailwire_setLoginInClear(h, 1) == MAILWIRE_OK && mailwire_LoginInClear(h) == 1);
        CHECK(mailwire_setLoginInClear(h, 0) == MAILWIRE_OK);
        CHECK(mailwire_Outcome(h) == MAILWIRE_EX_OK);
        CHECK(same(mailwire_ErrorMessage(h), ""));
        CHECK(mailwire_Log(h) != NULL);
        CHECK(mailwire_LogClear(h) == MAILWIRE_OK);

        /* The other class's members are refused, every text setter refuses
         * what is not UTF-8. */
        const TextSetter* mine = smtp ? kSmtpOnlySetters : kMailwireOnlySetters;
        const TextSetter* theirs = smtp ? kMailwireOnlySetters : kSmtpOnlySetters;
        const size_t nMine = smtp ? 7 : 3, nTheirs = smtp ? 3 : 7;
        for (size_t i = 0; i < nTheirs; ++i)
            CHECK(theirs[i](h, "a@example.jp") == MAILWIRE_E_MEMBER);
        for (size_t i = 0; i < nMine; ++i)
            for (size_t j = 0; j < sizeof kNotUtf8 / sizeof kNotUtf8[0]; ++j)
                CHECK(mine[i](h, kNotUtf8[j]) == MAILWIRE_E_ARGUMENT);
        CHECK((smtp ? mailwire_Send(h) : mailwire_SendMail(h)) == MAILWIRE_E_MEMBER);
        CHECK(smtp ? mailwire_Clear(h) == MAILWIRE_OK : mailwire_Clear(h) == MAILWIRE_E_MEMBER);

        /* A handle belongs to the thread that opened it. */
        pthread_t t;
        void* result = NULL;
        CHECK(pthread_create(&t, NULL, callFromAnotherThread, h) == 0);
        pthread_join(t, &result);
        const int* rc = result;
        CHECK(rc && rc[0] == MAILWIRE_E_THREAD && rc[1] && rc[2] == MAILWIRE_E_THREAD);
        mailwire_close(h);
    }
    CHECK(mailwire_open("VBMailwire.Unknown") == NULL);
    CHECK(mailwire_open(NULL) == NULL);
    CHECK(mailwire_SetTo(NULL, "a@example.jp") == MAILWIRE_E_HANDLE);
    CHECK(mailwire_ServerPort(NULL) == MAILWIRE_E_HANDLE);
    CHECK(mailwire_ErrorMessage(NULL) == NULL);
    CHECK(mailwire_Outcome(NULL) == MAILWIRE_E_HANDLE);
    CHECK(mailwire_setEndHook(NULL, NULL, NULL) == MAILWIRE_E_HANDLE);
    mailwire_close(NULL);
    CHECK(mailwire_version() && strchr(mailwire_version(), '.'));
}

/* The composer: a Japanese mail to To, Cc and Bcc, lines ending in LF. */
static void sendJapanese(int port) {
    mailwire_handle* m = mailwire_open("VBMailwire.SmtpMailer");
    CHECK(m != NULL);
    if (!m)
        return;
    CHECK(mailwire_setServerName(m, "127.0.0.1") == MAILWIRE_OK);
    CHECK(mailwire_setServerPort(m, port) == MAILWIRE_OK);
    CHECK(mailwire_setTimeoutMs(m, 10000) == MAILWIRE_OK);
    CHECK(mailwire_setClientMailAddress(m, "watch@example.jp") == MAILWIRE_OK);
    CHECK(mailwire_setClientRealName(m, "監視 サーバー") == MAILWIRE_OK);
    CHECK(mailwire_SetTo(m, "to@example.jp") == MAILWIRE_OK);
    CHECK(mailwire_SetCc(m, "cc@example.jp") == MAILWIRE_OK);
    CHECK(mailwire_SetBcc(m, "bcc@example.jp") == MAILWIRE_OK);
    CHECK(mailwire_SetSubject(m, "サーバーダウンの可能性") == MAILWIRE_OK);
    CHECK(mailwire_SetSentense(m, "☆サーバーダウン報告書\nサーバー名 = ファイルサーバー") ==
          MAILWIRE_OK);
    CHECK(mailwire_SetSentense(m, ".ドットで始まる行\n\nASCII line") == MAILWIRE_OK);
    const int rc = mailwire_SendMail(m);
    const char* why = mailwire_ErrorMessage(m);
    if (rc != MAILWIRE_OK)
        fprintf(stderr, "SendMail: %s\n%s\n", why ? why : "(null)", mailwire_Log(m));
    CHECK(rc == MAILWIRE_OK);
    CHECK(same(why, ""));
    CHECK(strstr(mailwire_Log(m), "> 250") != NULL);
    mailwire_close(m);
}

static int endAtOnce(void* calls) {
    ++*(int*)calls;
    return 1;
}

/* The bare dialogue: ready-made 7-bit text, a server that is not there, one
 * that stalls, and an end asked for by the caller; the handle sends again
 * after each. */
static void sendRaw(int port, int closedPort, int stallPort) {
    mailwire_handle* w = mailwire_open("VBMailwire.Mailwire");
    CHECK(w != NULL);
    if (!w)
        return;
    CHECK(mailwire_setServerName(w, "127.0.0.1") == MAILWIRE_OK);
    CHECK(mailwire_setServerPort(w, port) == MAILWIRE_OK);
    CHECK(mailwire_SetReversePath(w, "raw@example.jp") == MAILWIRE_OK);
    CHECK(mailwire_SetForwardPath(w, "one@example.jp") == MAILWIRE_OK);
    CHECK(mailwire_SetForwardPath(w, "two@example.jp") == MAILWIRE_OK);
    CHECK(mailwire_SetData(w, "Subject: raw\n\nfirst\r\n.second\n") == MAILWIRE_OK);
    CHECK(mailwire_Send(w) == MAILWIRE_OK);
    CHECK(same(mailwire_ErrorMessage(w), ""));

    CHECK(mailwire_setServerPort(w, closedPort) == MAILWIRE_OK);
    CHECK(mailwire_Send(w) == MAILWIRE_NOT_SENT);
    const char* why = mailwire_ErrorMessage(w);
    const char* log = mailwire_Log(w);
    CHECK(why && strncmp(why, "??? ", 4) == 0);
    CHECK(log && strstr(log, "? ") != NULL);
    CHECK(mailwire_Outcome(w) == MAILWIRE_EX_TEMPFAIL);

    CHECK(mailwire_setServerPort(w, stallPort) == MAILWIRE_OK);
    CHECK(mailwire_setTimeoutMs(w, 500) == MAILWIRE_OK);
    CHECK(mailwire_Send(w) == MAILWIRE_NOT_SENT);
    CHECK(mailwire_Outcome(w) == MAILWIRE_EX_IOERR);

    int calls = 0;
    CHECK(mailwire_setServerPort(w, port) == MAILWIRE_OK);
    CHECK(mailwire_setEndHook(w, endAtOnce, &calls) == MAILWIRE_OK);
    CHECK(mailwire_Send(w) == MAILWIRE_NOT_SENT);
    why = mailwire_ErrorMessage(w);
    CHECK(why && strncmp(why, "??? 9013 Ended by the program", 29) == 0);
    CHECK(mailwire_Outcome(w) == MAILWIRE_EX_TEMPFAIL);
    CHECK(calls > 0);

    CHECK(mailwire_setEndHook(w, NULL, NULL) == MAILWIRE_OK);
    CHECK(mailwire_Send(w) == MAILWIRE_OK);
    CHECK(same(mailwire_ErrorMessage(w), ""));
    mailwire_close(w);
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: c_send PORT CLOSED_PORT STALL_PORT\n");
        return 2;
    }
    contract();
    sendJapanese(atoi(argv[1]));
    sendRaw(atoi(argv[1]), atoi(argv[2]), atoi(argv[3]));
    if (failures)
        fprintf(stderr, "%d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
