/*
 * mailwire: sends one Japanese mail from a shell script through the
 * library's C interface. Everything about the mail and SMTP is the
 * library's; this file only turns options and the body into calls.
 *
 * Exit status: the codes of sysexits.h, as msmtp gives them for the same
 * server: 0 the server accepted the mail (whatever QUIT then got), the
 * library's outcome class when it did not (the ErrorMessage on standard
 * error), 64 to 66 and 78 for what went wrong before any server was asked.
 * Nothing is printed after a mail that was sent: cron mails whatever is.
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

enum {
    kSent = MAILWIRE_EX_OK,
    kUsage = MAILWIRE_EX_USAGE,       /* a wrong or missing option */
    kDataError = MAILWIRE_EX_DATAERR, /* a body that is not text in its encoding */
    kNoInput = MAILWIRE_EX_NOINPUT,   /* a file that cannot be read */
    kSoftware = 70,                   /* EX_SOFTWARE: the library failed us */
    kConfig = 78                      /* EX_CONFIG: the password command failed */
};

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
    "      --password-command=CMD  パスワードを出すコマンド (出力の1行目。sh -c で実行)\n"
    "                            どちらもなければ環境変数 MAILWIRE_PASSWORD\n"
    "      --login-in-clear      -E none でもパスワードをこのマシン以外へ送ります\n"
    "                            (既定では、暗号化なしのログインはこのマシンのサーバーだけ)\n"
    "  -C, --ca-file=FILE        サーバー証明書を確かめる CA 証明書 (PEM。既定はシステムの CA)\n"
    "  -v, --verbose             SMTP のやり取りを標準エラーに出します\n"
    "  -h, --help                この説明を出します\n"
    "  -V, --version             版を出します\n"
    "\n"
    "宛先は -t, -c, -b のどれかで1つ以上必要です。オプションの文字は UTF-8 です。\n"
    "\n"
    "終了ステータス (sysexits.h。msmtp と同じ): 0 サーバーが受け付けた (QUIT の応答に\n"
    "かかわらず)。送れなかったときは理由を標準エラーに出し、次のどれかで終わります:\n"
    "  64 オプションの誤り           65 本文の誤り、または恒久的な拒否 (5xx)\n"
    "  66 読めないファイル、CA なし   68 サーバー名が引けない\n"
    "  69 一時的な拒否 (4xx)、本文の後の拒否、STARTTLS・ログイン方式なし、証明書の拒否、\n"
    "     暗号化なしのログインの拒否\n"
    "  74 サーバーが応答しない (時間切れ)   75 接続できない (あとで再試行)\n"
    "  76 プロトコルの誤り (220 以外の挨拶、切断、TLS の失敗)\n"
    "  77 ログインの拒否              78 パスワードのコマンドの失敗\n";

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
    "      --password-command=CMD  command (run by sh -c) whose first output line\n"
    "                            is the password; with neither, MAILWIRE_PASSWORD\n"
    "      --login-in-clear      send the password to another machine even with\n"
    "                            -E none (by default only to a server on this one)\n"
    "  -C, --ca-file=FILE        PEM CA certificates for the server's certificate\n"
    "                            (default: the system's CA store)\n"
    "  -v, --verbose             print the SMTP transcript on standard error\n"
    "  -h, --help                print this help\n"
    "  -V, --version             print the version\n"
    "\n"
    "At least one recipient (-t, -c or -b) is needed. Option texts are UTF-8.\n"
    "\n"
    "Exit status (sysexits.h, as msmtp gives them): 0 the server accepted the\n"
    "mail, whatever QUIT then got. Otherwise the reason is on standard error and:\n"
    "  64 wrong option            65 bad body, or refused for good (5xx)\n"
    "  66 unreadable file, no CA  68 unknown host\n"
    "  69 refused for now (4xx), refused after the data, no STARTTLS or login\n"
    "     mechanism, certificate refused, login in clear refused\n"
    "  74 no answer (time-out)    75 no connection (try again later)\n"
    "  76 protocol error (greeting not 220, connection closed, TLS failed)\n"
    "  77 login refused           78 the password command failed\n";

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

/* Reads the whole body, at most MAX_BODY bytes; NULL with a message and
 * *status set on failure. */
static char* readBody(const char* path, size_t* size, int* status) {
    FILE* f = (!path || strcmp(path, "-") == 0) ? stdin : fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "mailwire: %s: %s\n", path, strerror(errno));
        *status = kNoInput;
        return NULL;
    }
    /* One byte beyond the limit is read, so a body of exactly MAX_BODY
     * bytes is told apart from a longer one. */
    size_t cap = 4096, n = 0;
    char* buf = malloc(cap + 1);
    *status = buf ? kSent : kSoftware;
    while (buf) {
        if (n == cap) {
            const size_t next = cap * 2 > MAX_BODY + 1 ? MAX_BODY + 1 : cap * 2;
            char* bigger = cap <= MAX_BODY ? realloc(buf, next + 1) : NULL;
            if (!bigger) {
                if (cap > MAX_BODY)
                    fputs(TEXT("mailwire: 本文が大きすぎます (16 MiB まで)\n",
                               "mailwire: the body is too large (16 MiB at most)\n"),
                          stderr);
                *status = cap > MAX_BODY ? kDataError : kSoftware;
                free(buf);
                buf = NULL;
                break;
            }
            buf = bigger;
            cap = next;
        }
        const size_t got = fread(buf + n, 1, cap - n, f);
        n += got;
        if (got == 0) {
            if (ferror(f)) {
                fprintf(stderr, "mailwire: %s: %s\n", path ? path : "-", strerror(errno));
                *status = kNoInput;
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
            *status = kDataError;
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

/* The first line f holds, without its line end, "" when it holds none
 * (*none is then set); NULL when memory runs out. */
static char* firstLineOf(FILE* f, int* none) {
    char* line = NULL;
    size_t cap = 0;
    *none = getline(&line, &cap, f) < 0;
    if (*none) {
        free(line);
        return strdup("");
    }
    line[strcspn(line, "\r\n")] = '\0';
    return line;
}

/* The first line of a file; NULL with a message. */
static char* readFirstLine(const char* path) {
    FILE* f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "mailwire: %s: %s\n", path, strerror(errno));
        return NULL;
    }
    int none = 0;
    char* line = firstLineOf(f, &none);
    fclose(f);
    return line;
}

/* The first line a command prints (run by the shell, like msmtp's
 * passwordeval); NULL with a message when it fails or prints nothing. */
static char* commandFirstLine(const char* command) {
    /* Standard input holds the body: the command gets none of it. */
    static const char kNoInput[] = "exec </dev/null\n";
    char* script = malloc(sizeof kNoInput + strlen(command));
    if (!script)
        return NULL;
    strcpy(script, kNoInput);
    strcat(script, command);
    FILE* p = popen(script, "r");
    free(script);
    if (!p) {
        fprintf(stderr, "mailwire: %s: %s\n", command, strerror(errno));
        return NULL;
    }
    int none = 0;
    char* line = firstLineOf(p, &none);
    /* The rest is read so the command never dies of a closed pipe. */
    for (int c; (c = fgetc(p)) != EOF;)
        ;
    if (pclose(p) != 0 || none || !line) {
        fprintf(stderr,
                TEXT("mailwire: パスワードのコマンド %s が失敗しました\n",
                     "mailwire: the password command %s failed\n"),
                command);
        if (line)
            explicit_bzero(line, strlen(line));
        free(line);
        return NULL;
    }
    return line;
}

/* Hands a password to the library and wipes our copy. */
static int setPassword(mailwire_handle* m, char* password) {
    const int rc = mailwire_setPassword(m, password);
    explicit_bzero(password, strlen(password));
    free(password);
    return rc;
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
    static const struct option kOptions[] = {{"server", required_argument, NULL, 'S'},
                                             {"to", required_argument, NULL, 't'},
                                             {"cc", required_argument, NULL, 'c'},
                                             {"bcc", required_argument, NULL, 'b'},
                                             {"from", required_argument, NULL, 'f'},
                                             {"from-name", required_argument, NULL, 'n'},
                                             {"subject", required_argument, NULL, 's'},
                                             {"body-file", required_argument, NULL, 'F'},
                                             {"encoding", required_argument, NULL, 'e'},
                                             {"timeout", required_argument, NULL, 'T'},
                                             {"verbose", no_argument, NULL, 'v'},
                                             {"help", no_argument, NULL, 'h'},
                                             {"version", no_argument, NULL, 'V'},
                                             {"security", required_argument, NULL, 'E'},
                                             {"user", required_argument, NULL, 'u'},
                                             {"password-file", required_argument, NULL, 'p'},
                                             {"ca-file", required_argument, NULL, 'C'},
                                             {"password-command", required_argument, NULL, 'P'},
                                             {"login-in-clear", no_argument, NULL, 'L'},
                                             {NULL, 0, NULL, 0}};

    mailwire_handle* m = mailwire_open("VBMailwire.SmtpMailer");
    if (!m) {
        fputs("mailwire: the mail library cannot make VBMailwire.SmtpMailer\n", stderr);
        return kSoftware;
    }
    const char* server = NULL;
    const char* bodyFile = NULL;
    const char* passwordCommand = NULL;
    int cp932 = 0, verbose = 0, from = 0, recipients = 0, security = 0, user = 0, password = 0;
    int status = kSent;
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
            user = 1;
            break;
        case 'p': {
            /* A file, a command or the environment, never the command line,
             * which every user can read in the process list. */
            char* secret = readFirstLine(optarg);
            if (!secret) {
                mailwire_close(m);
                return kNoInput;
            }
            rc = setPassword(m, secret);
            password = 1;
            break;
        }
        case 'P':
            passwordCommand = optarg;
            break;
        case 'L':
            rc = mailwire_setLoginInClear(m, 1);
            break;
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
    if (user && !password) {
        const char* fromEnvironment = getenv("MAILWIRE_PASSWORD");
        char* secret = passwordCommand   ? commandFirstLine(passwordCommand)
                       : fromEnvironment ? strdup(fromEnvironment)
                                         : NULL;
        if (passwordCommand && !secret) {
            mailwire_close(m);
            return kConfig;
        }
        if (secret && setPassword(m, secret) != MAILWIRE_OK) {
            fputs(TEXT("mailwire: パスワードが UTF-8 ではありません\n",
                       "mailwire: the password is not UTF-8\n"),
                  stderr);
            mailwire_close(m);
            return kDataError;
        }
    }

    size_t size = 0;
    int bodyStatus = kSent;
    char* body = readBody(bodyFile, &size, &bodyStatus);
    if (body && cp932) {
        char* utf8 = cp932ToUtf8(body, size);
        free(body);
        body = utf8;
        bodyStatus = kDataError;
        if (!body)
            fputs(TEXT("mailwire: 本文が CP932 として読めません\n",
                       "mailwire: the body is not valid CP932\n"),
                  stderr);
    }
    if (!body) {
        mailwire_close(m);
        return bodyStatus;
    }
    if (*body && mailwire_SetSentense(m, body) != MAILWIRE_OK) {
        fputs(TEXT("mailwire: 本文が UTF-8 ではありません (Shift_JIS なら --encoding cp932)\n",
                   "mailwire: the body is not UTF-8 (for Shift_JIS use --encoding cp932)\n"),
              stderr);
        free(body);
        mailwire_close(m);
        return kDataError;
    }
    free(body);

    const int rc = mailwire_SendMail(m);
    status = rc == MAILWIRE_OK ? kSent : rc == MAILWIRE_NOT_SENT ? mailwire_Outcome(m) : kSoftware;
    if (verbose)
        printLog(mailwire_Log(m));
    if (status != kSent) {
        const char* why = mailwire_ErrorMessage(m);
        fprintf(stderr, "mailwire: %s\n", why ? why : "");
        if (why && strstr(why, "login in clear"))
            fputs(TEXT("mailwire: -E starttls か -E tls を使うか、信頼できるネットワークなら "
                       "--login-in-clear を付けてください\n",
                       "mailwire: use -E starttls or -E tls, or --login-in-clear on a network "
                       "you trust\n"),
                  stderr);
    }
    mailwire_close(m);
    return status;
}
