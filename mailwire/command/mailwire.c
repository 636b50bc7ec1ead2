/*
 * mailwire: sends one Japanese mail from a shell script through the
 * library's C interface. Everything about the mail and SMTP is the
 * library's; this file only turns options and the body into calls.
 *
 * Exit status: 0 the server accepted the mail; 1 it was not sent (the
 * ErrorMessage on standard error); 2 a wrong option or an unreadable body.
 */
#define _POSIX_C_SOURCE 200809L
#define _DEFAULT_SOURCE /* explicit_bzero */

#include <mailwire/mailwire_c.h>

#include <errno.h>
#include <getopt.h>
#include <iconv.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

enum { kSent = 0, kNotSent = 1, kUsage = 2 };

/* A body larger than this is refused: a mail is not a file transfer, and a
 * script that pipes the wrong thing in must not exhaust memory. */
#define MAX_BODY (16u * 1024u * 1024u)

static int japanese;

/* The first set locale variable decides the language of the messages. */
static void chooseLanguage(void) {
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        const char* v = getenv(names[i]);
        if (v && *v) {
            japanese = strncmp(v, "ja", 2) == 0;
            return;
        }
    }
}

#define TEXT(ja, en) (japanese ? (ja) : (en))

static const char* const kHelpJa =
    "使い方: mailwire -S サーバー[:ポート] -f 差出人 -t 宛先 [オプション] [< 本文]\n"
    "\n"
    "日本語のメール (ISO-2022-JP) を1通、SMTP サーバーへ送ります。本文は標準入力か\n"
    "--body-file のファイルから読みます。\n"
    "\n"
    "  -S, --server=HOST[:PORT]  SMTP サーバー (必須。ポートの既定は 25、IPv6 は [::1]:25)\n"
    "  -t, --to=ADDRESS          宛先 (繰り返し可)\n"
    "  -c, --cc=ADDRESS          CC (繰り返し可)\n"
    "  -b, --bcc=ADDRESS         BCC (繰り返し可。ヘッダーには載りません)\n"
    "  -f, --from=ADDRESS        差出人のアドレス (必須)\n"
    "  -n, --from-name=NAME      差出人の名前\n"
    "  -s, --subject=TEXT        件名\n"
    "  -F, --body-file=FILE      本文のファイル (既定は標準入力、\"-\" も標準入力)\n"
    "  -e, --encoding=ENCODING   本文の文字コード: utf-8 (既定) か cp932 (Shift_JIS)\n"
    "  -T, --timeout=SECONDS     サーバーを待つ時間の上限 (1回の応答ごと、既定 60 秒)\n"
    "  -E, --security=MODE       暗号化: none (既定)、starttls (必須。ポートの既定 587)、\n"
    "                            tls (最初から TLS。ポートの既定 465)\n"
    "  -u, --user=NAME           SMTP AUTH のユーザー名\n"
    "  -p, --password-file=FILE  SMTP AUTH のパスワードを書いたファイル (1行目)\n"
    "  -C, --ca-file=FILE        サーバー証明書を確かめる CA 証明書 (PEM。既定はシステムの CA)\n"
    "  -v, --verbose             SMTP のやり取りを標準エラーに出します\n"
    "  -h, --help                この説明を出します\n"
    "  -V, --version             版を出します\n"
    "\n"
    "宛先は -t, -c, -b のどれかで1つ以上必要です。オプションの文字は UTF-8 です。\n"
    "終了ステータス: 0 サーバーが受け付けた、1 送れなかった (理由を標準エラーに出します)、\n"
    "2 オプションか本文の誤り。\n";

static const char* const kHelpEn =
    "Usage: mailwire -S HOST[:PORT] -f ADDRESS -t ADDRESS [OPTION]... [< BODY]\n"
    "\n"
    "Sends one Japanese mail (ISO-2022-JP) to an SMTP server. The body is read\n"
    "from standard input or from the file given with --body-file.\n"
    "\n"
    "  -S, --server=HOST[:PORT]  SMTP server (required; port 25 by default, IPv6 as [::1]:25)\n"
    "  -t, --to=ADDRESS          recipient (repeatable)\n"
    "  -c, --cc=ADDRESS          copy recipient (repeatable)\n"
    "  -b, --bcc=ADDRESS         blind-copy recipient (repeatable; never in the header)\n"
    "  -f, --from=ADDRESS        sender address (required)\n"
    "  -n, --from-name=NAME      sender name\n"
    "  -s, --subject=TEXT        subject\n"
    "  -F, --body-file=FILE      body file (standard input by default, or \"-\")\n"
    "  -e, --encoding=ENCODING   body encoding: utf-8 (default) or cp932 (Shift_JIS)\n"
    "  -T, --timeout=SECONDS     longest wait for each server reply (default 60)\n"
    "  -E, --security=MODE       none (default), starttls (required; port 587 by\n"
    "                            default) or tls (TLS from the first byte; port 465)\n"
    "  -u, --user=NAME           user name for SMTP AUTH\n"
    "  -p, --password-file=FILE  file whose first line is the SMTP AUTH password\n"
    "  -C, --ca-file=FILE        PEM CA certificates for the server's certificate\n"
    "                            (default: the system's CA store)\n"
    "  -v, --verbose             print the SMTP transcript on standard error\n"
    "  -h, --help                print this help\n"
    "  -V, --version             print the version\n"
    "\n"
    "At least one recipient (-t, -c or -b) is needed. Option texts are UTF-8.\n"
    "Exit status: 0 the server accepted the mail; 1 it was not sent (the reason\n"
    "on standard error); 2 a wrong option or body.\n";

static int usage(const char* problem) {
    if (problem)
        fprintf(stderr, "mailwire: %s\n", problem);
    fputs(TEXT("使い方: mailwire -S サーバー[:ポート] -f 差出人 -t 宛先 [オプション] [< 本文]\n"
               "詳しくは mailwire --help\n",
               "Usage: mailwire -S HOST[:PORT] -f ADDRESS -t ADDRESS [OPTION]... [< BODY]\n"
               "Try 'mailwire --help' for more.\n"),
          stderr);
    return kUsage;
}

/* Reads the whole body; NULL with a message on failure. */
static char* readBody(const char* path, size_t* size) {
    FILE* f = (!path || strcmp(path, "-") == 0) ? stdin : fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "mailwire: %s: %s\n", path, strerror(errno));
        return NULL;
    }
    size_t cap = 4096, n = 0;
    char* buf = malloc(cap + 1);
    while (buf) {
        if (n == cap) {
            char* bigger = cap < MAX_BODY ? realloc(buf, cap * 2 + 1) : NULL;
            if (!bigger) {
                fputs(TEXT("mailwire: 本文が大きすぎます (16 MiB まで)\n",
                           "mailwire: the body is too large (16 MiB at most)\n"),
                      stderr);
                free(buf);
                buf = NULL;
                break;
            }
            buf = bigger;
            cap *= 2;
        }
        const size_t got = fread(buf + n, 1, cap - n, f);
        n += got;
        if (got == 0) {
            if (ferror(f)) {
                fprintf(stderr, "mailwire: %s: %s\n", path ? path : "-", strerror(errno));
                free(buf);
                buf = NULL;
            }
            break;
        }
    }
    if (f != stdin)
        fclose(f);
    if (buf) {
        buf[n] = '\0';
        *size = n;
        if (memchr(buf, '\0', n)) {
            fputs(TEXT("mailwire: 本文に NUL 文字があります\n",
                       "mailwire: the body holds a NUL byte\n"),
                  stderr);
            free(buf);
            return NULL;
        }
    }
    return buf;
}

/* Code page 932 (not strict Shift_JIS: 5C is a backslash, NEC and IBM
 * characters convert) to UTF-8; NULL when the text is not CP932. */
static char* cp932ToUtf8(const char* in, size_t size) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == (iconv_t)-1)
        return NULL;
    size_t outCap = size * 3 + 1, left = outCap - 1;
    char* out = malloc(outCap);
    char* src = (char*)in;
    char* dst = out;
    size_t srcLeft = size;
    if (out && iconv(cd, &src, &srcLeft, &dst, &left) != (size_t)-1 &&
        iconv(cd, NULL, NULL, &dst, &left) != (size_t)-1) {
        *dst = '\0';
    } else {
        free(out);
        out = NULL;
    }
    iconv_close(cd);
    return out;
}

/* The first line of a file, without its line end; NULL with a message. */
static char* readFirstLine(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "mailwire: %s: %s\n", path, strerror(errno));
        return NULL;
    }
    char* line = NULL;
    size_t cap = 0;
    const ssize_t n = getline(&line, &cap, f);
    fclose(f);
    if (n < 0) {
        free(line);
        line = strdup("");
    }
    if (line)
        line[strcspn(line, "\r\n")] = '\0';
    return line;
}

/* "host", "host:port", "[v6]:port" or a bare IPv6 address; without a port,
 * the usual one of the security mode. */
static int setServer(mailwire_handle* m, const char* arg, int security) {
    char host[1024];
    const char* port = NULL;
    if (arg[0] == '[') {
        const char* end = strchr(arg, ']');
        if (!end || (end[1] != '\0' && end[1] != ':') || (size_t)(end - arg) >= sizeof host)
            return 0;
        memcpy(host, arg + 1, (size_t)(end - arg - 1));
        host[end - arg - 1] = '\0';
        port = end[1] == ':' ? end + 2 : NULL;
    } else {
        const char* colon = strchr(arg, ':');
        const int oneColon = colon && !strchr(colon + 1, ':');
        const size_t len = oneColon ? (size_t)(colon - arg) : strlen(arg);
        if (len >= sizeof host)
            return 0;
        memcpy(host, arg, len);
        host[len] = '\0';
        port = oneColon ? colon + 1 : NULL;
    }
    if (host[0] == '\0' || mailwire_setServerName(m, host) != MAILWIRE_OK)
        return 0;
    if (!port) {
        static const int kPorts[] = {25, 587, 465};
        return mailwire_setServerPort(m, kPorts[security]) == MAILWIRE_OK;
    }
    {
        char* end = NULL;
        errno = 0;
        const long p = strtol(port, &end, 10);
        if (*port == '\0' || *end != '\0' || errno || p < 1 || p > 65535 ||
            mailwire_setServerPort(m, (int)p) != MAILWIRE_OK)
            return 0;
    }
    return 1;
}

/* Prints the transcript with the line ends of this machine. */
static void printLog(const char* log) {
    for (const char* p = log; p && *p; ++p)
        if (!(p[0] == '\r' && p[1] == '\n'))
            fputc(*p, stderr);
}

int main(int argc, char** argv) {
    chooseLanguage();
    static const struct option kOptions[] = {
        {"server", required_argument, NULL, 'S'},   {"to", required_argument, NULL, 't'},
        {"cc", required_argument, NULL, 'c'},       {"bcc", required_argument, NULL, 'b'},
        {"from", required_argument, NULL, 'f'},     {"from-name", required_argument, NULL, 'n'},
        {"subject", required_argument, NULL, 's'},  {"body-file", required_argument, NULL, 'F'},
        {"encoding", required_argument, NULL, 'e'}, {"timeout", required_argument, NULL, 'T'},
        {"verbose", no_argument, NULL, 'v'},        {"help", no_argument, NULL, 'h'},
        {"version", no_argument, NULL, 'V'},        {"security", required_argument, NULL, 'E'},
        {"user", required_argument, NULL, 'u'},     {"password-file", required_argument, NULL, 'p'},
        {"ca-file", required_argument, NULL, 'C'},  {NULL, 0, NULL, 0}};

    mailwire_handle* m = mailwire_open("VBMailwire.SmtpMailer");
    if (!m) {
        fputs("mailwire: the mail library cannot make VBMailwire.SmtpMailer\n", stderr);
        return kNotSent;
    }
    const char* server = NULL;
    const char* bodyFile = NULL;
    int cp932 = 0, verbose = 0, from = 0, recipients = 0, security = 0, status = kSent;
    char problem[512] = "";
    int opt;
    opterr = 0; /* our own message, in the operator's language */
    while (!*problem && (opt = getopt_long(argc, argv, "S:t:c:b:f:n:s:F:e:T:E:u:p:C:vhV", kOptions,
                                           NULL)) != -1) {
        int rc = MAILWIRE_OK;
        switch (opt) {
        case 'S':
            server = optarg;
            break;
        case 't':
            rc = mailwire_SetTo(m, optarg);
            break;
        case 'c':
            rc = mailwire_SetCc(m, optarg);
            break;
        case 'b':
            rc = mailwire_SetBcc(m, optarg);
            break;
        case 'f':
            rc = mailwire_setClientMailAddress(m, optarg);
            from = 1;
            break;
        case 'n':
            rc = mailwire_setClientRealName(m, optarg);
            break;
        case 's':
            rc = mailwire_SetSubject(m, optarg);
            break;
        case 'F':
            bodyFile = optarg;
            break;
        case 'v':
            verbose = 1;
            break;
        case 'e':
            if (strcasecmp(optarg, "cp932") == 0 || strcasecmp(optarg, "windows-31j") == 0 ||
                strcasecmp(optarg, "shift_jis") == 0 || strcasecmp(optarg, "sjis") == 0)
                cp932 = 1;
            else if (strcasecmp(optarg, "utf-8") == 0 || strcasecmp(optarg, "utf8") == 0)
                cp932 = 0;
            else
                snprintf(problem, sizeof problem,
                         TEXT("文字コード %s は使えません (utf-8 か cp932)",
                              "unknown encoding %s (utf-8 or cp932)"),
                         optarg);
            break;
        case 'T': {
            char* end = NULL;
            const double s = strtod(optarg, &end);
            if (*optarg == '\0' || *end != '\0' || !(s > 0) || s * 1000 > 2147483647.0)
                snprintf(problem, sizeof problem,
                         TEXT("待ち時間 %s は正の秒数ではありません",
                              "timeout %s is not a positive number of seconds"),
                         optarg);
            else
                mailwire_setTimeoutMs(m, (int)ceil(s * 1000));
            break;
        }
        case 'E':
            security = strcasecmp(optarg, "none") == 0       ? MAILWIRE_SECURITY_NONE
                       : strcasecmp(optarg, "starttls") == 0 ? MAILWIRE_SECURITY_STARTTLS
                       : strcasecmp(optarg, "tls") == 0      ? MAILWIRE_SECURITY_TLS
                                                             : -1;
            if (security < 0)
                snprintf(problem, sizeof problem,
                         TEXT("暗号化 %s は使えません (none, starttls, tls)",
                              "unknown security %s (none, starttls or tls)"),
                         optarg);
            else
                rc = mailwire_setSecurityMode(m, security);
            break;
        case 'u':
            rc = mailwire_setUserName(m, optarg);
            break;
        case 'p': {
            /* A file, never the command line, which every user can read in
             * the process list. */
            char* password = readFirstLine(optarg);
            if (!password) {
                mailwire_close(m);
                return kUsage;
            }
            rc = mailwire_setPassword(m, password);
            explicit_bzero(password, strlen(password));
            free(password);
            break;
        }
        case 'C':
            rc = mailwire_setCaFile(m, optarg);
            break;
        case 'h':
            fputs(TEXT(kHelpJa, kHelpEn), stdout);
            mailwire_close(m);
            return kSent;
        case 'V':
            printf("mailwire %s\n", mailwire_version());
            mailwire_close(m);
            return kSent;
        default:
            snprintf(problem, sizeof problem, TEXT("オプション %s が違います", "wrong option %s"),
                     argv[optind - 1]);
            break;
        }
        recipients += opt == 't' || opt == 'c' || opt == 'b';
        if (rc != MAILWIRE_OK)
            snprintf(problem, sizeof problem,
                     TEXT("-%c の値が UTF-8 ではありません", "the value of -%c is not UTF-8"), opt);
    }
    if (!*problem && optind < argc)
        snprintf(problem, sizeof problem, TEXT("余分な引数 %s", "unexpected argument %s"),
                 argv[optind]);
    if (!*problem && !server)
        snprintf(problem, sizeof problem, "%s",
                 TEXT("サーバー (-S) がありません", "no server (-S)"));
    if (!*problem && !setServer(m, server, security))
        snprintf(problem, sizeof problem,
                 TEXT("サーバー %s が違います (HOST か HOST:PORT)",
                      "wrong server %s (HOST or HOST:PORT)"),
                 server);
    if (!*problem && !from)
        snprintf(problem, sizeof problem, "%s", TEXT("差出人 (-f) がありません", "no sender (-f)"));
    if (!*problem && recipients == 0)
        snprintf(problem, sizeof problem, "%s",
                 TEXT("宛先 (-t, -c, -b) がありません", "no recipient (-t, -c or -b)"));
    if (*problem) {
        mailwire_close(m);
        return usage(problem);
    }

    size_t size = 0;
    char* body = readBody(bodyFile, &size);
    if (body && cp932) {
        char* utf8 = cp932ToUtf8(body, size);
        free(body);
        body = utf8;
        if (!body)
            fputs(TEXT("mailwire: 本文が CP932 として読めません\n",
                       "mailwire: the body is not valid CP932\n"),
                  stderr);
    }
    if (!body) {
        mailwire_close(m);
        return kUsage;
    }
    if (*body && mailwire_SetSentense(m, body) != MAILWIRE_OK) {
        fputs(TEXT("mailwire: 本文が UTF-8 ではありません (Shift_JIS なら --encoding cp932)\n",
                   "mailwire: the body is not UTF-8 (for Shift_JIS use --encoding cp932)\n"),
              stderr);
        free(body);
        mailwire_close(m);
        return kUsage;
    }
    free(body);

    if (mailwire_SendMail(m) != MAILWIRE_OK)
        status = kNotSent;
    if (verbose)
        printLog(mailwire_Log(m));
    if (status != kSent) {
        const char* why = mailwire_ErrorMessage(m);
        fprintf(stderr, "mailwire: %s\n", why ? why : "");
    }
    mailwire_close(m);
    return status;
}
