/*
 * fcitx_drive: the end-to-end tests' D-Bus client. It drives a running fcitx 4
 * the way the GTK/Qt input-method modules do and prints what fcitx answers;
 * started with --own it is also the stub that owns the panel's and the
 * watchdog's bus names. Single-threaded; only libdbus-1.
 *
 * Usage:  fcitx_drive [options] COMMAND [ARGS] COMMAND [ARGS] ...
 *
 * Options (before the first command):
 *   --display N      fcitx bus name is org.fcitx.Fcitx-N (default: from $DISPLAY, else 0)
 *   --own NAME       own NAME on the session bus (repeatable); method calls sent to it
 *                    are printed as CALL lines and answered with an empty reply
 *   --hang           method calls to owned names get no reply (a hung program)
 *   --settle MS      quiet time that ends the signal collection after each step (default 200)
 *   --max-step MS    longest collection after one step (default 3000)
 *   --timeout MS     wait for a name / method reply at most this long (default 10000)
 *   --no-signals     do not subscribe to fcitx's signals (for a stub that only owns names)
 *   --panel-mask HEX candidates of the form "<n>\x1D<base64>" (strings encoded for a
 *                    separate panel: bytes bit-reversed, XORed with the mask, Base64) are
 *                    decoded before cands/expect-cand see them: the text before the
 *                    first 0x1D of the decoded bytes is the candidate
 *
 * Commands (run in order; each is followed by signal collection):
 *   wait-name NAME       wait until NAME has an owner on the session bus
 *   wait-fcitx           wait-name org.fcitx.Fcitx-N
 *   ic | ic-app APPNAME  InputMethod.CreateICv3(APPNAME, pid)   -> "IC <id> <enabled> ..."
 *   caps N               InputContext.SetCapacity(N)  (1 = client-side UI, 2 = preedit)
 *   focusin | focusout | enable | close | reset | destroy     InputContext methods
 *   setim NAME           InputMethod.SetCurrentIM(NAME)
 *   getim                InputMethod.GetCurrentIM      -> "IM <name>"
 *   state                InputMethod.GetCurrentState   -> "STATE <n>" (0 closed, 1 inactive, 2
 * active) activate | inactivate | toggle     InputMethod.ActivateIM / InactivateIM / ToggleIM type
 * TEXT            press and release each ASCII character of TEXT key NAME             press and
 * release one key: a name (space Return BackSpace Escape Tab Left Right Up Down Home End Delete
 * Page_Up Page_Down KP_0..KP_9), one character, or 0xHEX; modifiers as prefixes: ctrl+ shift+ alt+
 * super+ call DEST PATH IFACE METHOD [ARG...]   any method call; ARG is s:TEXT, i:N, u:N or b:0/1;
 *                        prints "REPLY <args>" or "ERROR <name> <text>"
 *   send DEST PATH IFACE METHOD [ARG...]   the call without waiting: its "REPLY" (or
 *                        "ERROR") line is printed when it comes, while later commands run
 *                        (and later sends: every answer is printed)
 *   await-reply MINKEYS  wait for the answer of the last send; fails unless at least
 *                        MINKEYS key presses were answered while it was outstanding
 *   expect-keys-under MS every key answered since the start (or the last such check) took
 *                        less than MS milliseconds  -> "KEYS <count> <slowest ms>"
 *   expect-keys-mostly-under MS N CEIL   as expect-keys-under, but N of those keys may
 *                        take MS or more, none CEIL or more: a busy machine delays a key
 *                        now and then, a fault every time  -> "KEYS <count> <slowest ms>
 *                        <count at MS or more>"
 *   expect-error NAME    the next call must answer the error NAME (a reply or another
 *                        error, a timeout's NoReply included, fails)
 *   sleep MS | hold MS   collect signals for MS milliseconds (hold: until SIGTERM when MS is 0)
 *   cands                print the last candidate list seen: "CANDS <n> \"c1\" \"c2\" ..."
 *   expect-commit TEXT   the text committed since the previous expect-commit must equal TEXT
 *   expect-cand TEXT     TEXT must be one of the candidates of the last candidate list
 *   expect-first TEXT    TEXT must be the first candidate of the last candidate list
 *   expect-commit-cand N the commit equals candidate N (from 1) of the list the last
 *                        cands printed
 *   choose TEXT          press the choose key (1-9) of TEXT in the last candidate list
 *   expect-nocommit      nothing was committed since the previous expect-commit
 *   mark                 remember the last candidate list
 *   expect-at N TEXT FLAG  candidate N (from 1) of the last list is TEXT with the panel
 *                        flag FLAG (the decimal after the text's 0x1D); TEXT "@K" stands
 *                        for candidate K of the list the last mark remembered
 *   expect-no-cloud      no candidate with flag 1 was seen since the start (or the last
 *                        expect-no-cloud)
 *   cpu-idle MS MAX      fcitx's CPU time (user + system, from /proc) over the next MS
 *                        milliseconds is at most MAX milliseconds  -> "CPU <ms> <MS>"
 *   note TEXT            print "NOTE <text>" (marks where a step begins for a reader
 *                        of the output, e.g. scripts/demo)
 *   touch PATH           make the empty file PATH (tells the stall shim to let go)
 *   remove PATH          delete the file PATH (a user emptying a folder)
 *   cut-files DIR N      cut every file in DIR longer than N bytes to N bytes
 *                        (a cleaning tool)
 *   hold-locks DIR       a process of the driver takes the file lock of every file
 *                        in DIR and keeps it (one stopped midway) until
 *                        release-locks or the driver's end
 *   release-locks        ends that process
 *   held-copies DIR      put in place of every file in DIR a copy of it taken
 *                        while its lock was held by a process that never lets
 *                        go (a backup put back, a sync tool): the copy's first
 *                        bytes are a robust, recursive, process-shared mutex
 *                        held by process 1
 *
 * Output: one event per line, fields separated by TAB, texts as JSON strings:
 *   SIGNAL <interface> <member> <path> <arg>...      every signal of the fcitx IC, IM and kimpanel
 *   CALL <destination> <path> <interface> <member> <arg>...   method calls to owned names
 *   KEY <keysym-hex> <state> press|release <ret> <ms>   ms: the key call's round trip
 *   OK ... / FAIL ...                                  results of expect-* commands
 * Exit status: 0 when every command and expectation succeeded, 1 otherwise, 2 for bad usage.
 */
#define _GNU_SOURCE
#include <dbus/dbus.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define IM_PATH "/inputmethod"
#define IM_IFACE "org.fcitx.Fcitx.InputMethod"
#define IC_IFACE "org.fcitx.Fcitx.InputContext"
#define KIM_IFACE "org.kde.kimpanel.inputmethod"

static DBusConnection* conn;
static char fcitx_name[64];
static char ic_path[64];
static int settle_ms = 200, max_step_ms = 3000, timeout_ms = 10000;
static const char* owned[16];
static int n_owned;
static volatile sig_atomic_t stop_flag;
static int failures;
static int want_signals = 1;
static int hang_owner;
static int panel_mask = -1;        /* -1: candidates are plain text */
static const char* expected_error; /* set by expect-error for the next call */
static const char* last_error;     /* name of the last error reply call() printed */

/* the outstanding send */
static DBusPendingCall* sent;
static int sent_answered;   /* its answer came */
static int keys_while_sent; /* key presses answered while it was outstanding */
static int keys_seen;       /* keys answered since the last check of their times */
static long long* key_ms;   /* their round trips */
static int key_ms_room;

/* what was seen */
static char* committed; /* commits since the last expect-commit */
static size_t committed_len;
static char** cands; /* last candidate list */
static int n_cands;
static char** shown; /* the list the last cands printed */
static int n_shown;
static int* cand_flags; /* the panel flag of each candidate, -1 for none */
static char** marked;   /* the list the last mark remembered */
static int n_marked;
static int cloud_seen; /* candidates with flag 1 seen */
static long long last_activity_ms;

static long long now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static void on_signal(int sig) {
    (void)sig;
    stop_flag = 1;
}

static void die(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    fputs("fcitx_drive: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    va_end(ap);
    exit(2);
}

/* ---- printing of message arguments ---------------------------------- */

static void put_json_string(FILE* f, const char* s) {
    fputc('"', f);
    for (const unsigned char* p = (const unsigned char*)s; *p; p++) {
        switch (*p) {
            case '"':
                fputs("\\\"", f);
                break;
            case '\\':
                fputs("\\\\", f);
                break;
            case '\n':
                fputs("\\n", f);
                break;
            case '\t':
                fputs("\\t", f);
                break;
            case '\r':
                fputs("\\r", f);
                break;
            default:
                if (*p < 0x20)
                    fprintf(f, "\\u%04x", *p);
                else
                    fputc(*p, f);
        }
    }
    fputc('"', f);
}

static void put_iter(FILE* f, DBusMessageIter* it) {
    int t = dbus_message_iter_get_arg_type(it);
    DBusBasicValue v;
    DBusMessageIter sub;
    int first = 1;
    switch (t) {
        case DBUS_TYPE_STRING:
        case DBUS_TYPE_OBJECT_PATH:
        case DBUS_TYPE_SIGNATURE:
            dbus_message_iter_get_basic(it, &v);
            put_json_string(f, v.str);
            break;
        case DBUS_TYPE_BOOLEAN:
            dbus_message_iter_get_basic(it, &v);
            fputs(v.bool_val ? "true" : "false", f);
            break;
        case DBUS_TYPE_BYTE:
            dbus_message_iter_get_basic(it, &v);
            fprintf(f, "%u", v.byt);
            break;
        case DBUS_TYPE_INT16:
            dbus_message_iter_get_basic(it, &v);
            fprintf(f, "%d", v.i16);
            break;
        case DBUS_TYPE_UINT16:
            dbus_message_iter_get_basic(it, &v);
            fprintf(f, "%u", v.u16);
            break;
        case DBUS_TYPE_INT32:
            dbus_message_iter_get_basic(it, &v);
            fprintf(f, "%d", v.i32);
            break;
        case DBUS_TYPE_UINT32:
            dbus_message_iter_get_basic(it, &v);
            fprintf(f, "%u", v.u32);
            break;
        case DBUS_TYPE_INT64:
            dbus_message_iter_get_basic(it, &v);
            fprintf(f, "%lld", (long long)v.i64);
            break;
        case DBUS_TYPE_UINT64:
            dbus_message_iter_get_basic(it, &v);
            fprintf(f, "%llu", (unsigned long long)v.u64);
            break;
        case DBUS_TYPE_DOUBLE:
            dbus_message_iter_get_basic(it, &v);
            fprintf(f, "%g", v.dbl);
            break;
        case DBUS_TYPE_ARRAY:
        case DBUS_TYPE_STRUCT:
        case DBUS_TYPE_DICT_ENTRY:
        case DBUS_TYPE_VARIANT:
            fputc(t == DBUS_TYPE_ARRAY     ? '['
                  : t == DBUS_TYPE_STRUCT  ? '('
                  : t == DBUS_TYPE_VARIANT ? '<'
                                           : '{',
                  f);
            dbus_message_iter_recurse(it, &sub);
            while (dbus_message_iter_get_arg_type(&sub) != DBUS_TYPE_INVALID) {
                if (!first) fputc(t == DBUS_TYPE_DICT_ENTRY ? ':' : ',', f);
                first = 0;
                put_iter(f, &sub);
                dbus_message_iter_next(&sub);
            }
            fputc(t == DBUS_TYPE_ARRAY     ? ']'
                  : t == DBUS_TYPE_STRUCT  ? ')'
                  : t == DBUS_TYPE_VARIANT ? '>'
                                           : '}',
                  f);
            break;
        default:
            fprintf(f, "?%c", t);
    }
}

static void put_args(FILE* f, DBusMessage* m) {
    DBusMessageIter it;
    if (!dbus_message_iter_init(m, &it)) return;
    do {
        fputc('\t', f);
        put_iter(f, &it);
    } while (dbus_message_iter_next(&it));
}

/* ---- remembering commits and candidates ------------------------------- */

static void add_commit(const char* s) {
    size_t n = strlen(s);
    committed = realloc(committed, committed_len + n + 1);
    if (!committed) die("out of memory");
    memcpy(committed + committed_len, s, n + 1);
    committed_len += n;
}

static void clear_cands(void) {
    for (int i = 0; i < n_cands; i++) free(cands[i]);
    free(cands);
    cands = NULL;
    n_cands = 0;
}

static int b64val(int c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

static unsigned char bitrev(unsigned char b) {
    unsigned char r = 0;
    for (int k = 0; k < 8; k++)
        if (b & (1u << k)) r |= (unsigned char)(0x80u >> k);
    return r;
}

/* "<n>\x1D<base64>" -> decoded text (malloc'd) or NULL when s is not of that form;
 * *flag gets the decimal after the text's 0x1D (-1 without one) */
static char* decode_panel_string(const char* s, size_t n, int* flag) {
    size_t i = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') i++;
    if (i == 0 || i >= n || s[i] != 0x1D) return NULL;
    const char* b = s + i + 1;
    size_t bn = n - i - 1;
    unsigned char* out = malloc(bn + 1);
    size_t on = 0;
    unsigned acc = 0;
    int bits = 0;
    if (!out) die("out of memory");
    for (size_t k = 0; k < bn; k++) {
        if (b[k] == '=') break;
        int v = b64val((unsigned char)b[k]);
        if (v < 0) {
            free(out);
            return NULL;
        }
        acc = (acc << 6) | (unsigned)v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[on++] = (unsigned char)(acc >> bits);
            acc &= (1u << bits) - 1;
        }
    }
    for (size_t k = 0; k < on; k++) out[k] = bitrev((unsigned char)(out[k] ^ (unsigned)panel_mask));
    size_t t = 0;
    while (t < on && out[t] != 0x1D) t++;
    *flag = -1;
    if (t < on && t + 1 < on && out[t + 1] >= '0' && out[t + 1] <= '9') *flag = out[t + 1] - '0';
    out[t] = '\0';
    return (char*)out;
}

static void push_cand(const char* s, size_t n) {
    /* candidates from fcitx often carry a trailing blank; drop it */
    while (n > 0 && s[n - 1] == ' ') n--;
    int flag = -1;
    char* d = panel_mask >= 0 ? decode_panel_string(s, n, &flag) : NULL;
    cands = realloc(cands, sizeof(char*) * (n_cands + 1));
    cand_flags = realloc(cand_flags, sizeof(int) * (n_cands + 1));
    if (!cands || !cand_flags) die("out of memory");
    cloud_seen += flag == 1;
    cand_flags[n_cands] = flag;
    cands[n_cands++] = d ? d : strndup(s, n);
}

/* kimpanel UpdateLookupTable(as labels, as texts, as attrs, b prev, b next) */
static void take_kimpanel_table(DBusMessage* m) {
    DBusMessageIter it, sub;
    clear_cands();
    if (!dbus_message_iter_init(m, &it) || !dbus_message_iter_next(&it)) return;
    if (dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY) return;
    dbus_message_iter_recurse(&it, &sub);
    while (dbus_message_iter_get_arg_type(&sub) == DBUS_TYPE_STRING) {
        const char* s;
        dbus_message_iter_get_basic(&sub, &s);
        push_cand(s, strlen(s));
        dbus_message_iter_next(&sub);
    }
}

/* IC UpdateClientSideUI(s auxup, s auxdown, s preedit, s candidateword, s imname, i cursor);
 * candidateword is "1.word1 2.word2 " (label, optional '.', word, blank) */
static void take_client_side_cands(DBusMessage* m) {
    const char *up, *down, *pre, *cw, *im;
    int cur;
    if (!dbus_message_get_args(m, NULL, DBUS_TYPE_STRING, &up, DBUS_TYPE_STRING, &down,
                               DBUS_TYPE_STRING, &pre, DBUS_TYPE_STRING, &cw, DBUS_TYPE_STRING, &im,
                               DBUS_TYPE_INT32, &cur, DBUS_TYPE_INVALID))
        return;
    clear_cands();
    const char* p = cw;
    while (*p) {
        const char* end = strchr(p, ' ');
        if (!end) end = p + strlen(p);
        const char* w = p;
        if (w < end) w++; /* the choose key */
        if (w < end && *w == '.') w++;
        if (end > w) push_cand(w, (size_t)(end - w));
        p = *end ? end + 1 : end;
    }
}

/* ---- message filter ---------------------------------------------------- */

static int is_owned(const char* name) {
    if (!name) return 0;
    for (int i = 0; i < n_owned; i++)
        if (strcmp(owned[i], name) == 0) return 1;
    return 0;
}

static DBusHandlerResult filter(DBusConnection* c, DBusMessage* m, void* data) {
    (void)data;
    int type = dbus_message_get_type(m);
    const char* iface = dbus_message_get_interface(m);
    const char* member = dbus_message_get_member(m);
    const char* path = dbus_message_get_path(m);

    if (type == DBUS_MESSAGE_TYPE_SIGNAL && iface &&
        (strcmp(iface, IC_IFACE) == 0 || strcmp(iface, KIM_IFACE) == 0 ||
         strcmp(iface, IM_IFACE) == 0)) {
        /* signals of other input contexts are not ours */
        if (strcmp(iface, IC_IFACE) == 0 && ic_path[0] && path && strcmp(path, ic_path) != 0)
            return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
        last_activity_ms = now_ms();
        printf("SIGNAL\t%s\t%s\t%s", iface, member ? member : "", path ? path : "");
        put_args(stdout, m);
        putchar('\n');
        if (strcmp(iface, IC_IFACE) == 0 && member && strcmp(member, "CommitString") == 0) {
            const char* s;
            if (dbus_message_get_args(m, NULL, DBUS_TYPE_STRING, &s, DBUS_TYPE_INVALID))
                add_commit(s);
        } else if (strcmp(iface, IC_IFACE) == 0 && member &&
                   strcmp(member, "UpdateClientSideUI") == 0) {
            take_client_side_cands(m);
        } else if (strcmp(iface, KIM_IFACE) == 0 && member &&
                   strcmp(member, "UpdateLookupTable") == 0) {
            take_kimpanel_table(m);
        }
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    if (type == DBUS_MESSAGE_TYPE_METHOD_CALL && is_owned(dbus_message_get_destination(m))) {
        last_activity_ms = now_ms();
        printf("CALL\t%s\t%s\t%s\t%s", dbus_message_get_destination(m), path ? path : "",
               iface ? iface : "", member ? member : "");
        put_args(stdout, m);
        putchar('\n');
        if (!hang_owner && !dbus_message_get_no_reply(m)) {
            DBusMessage* r = dbus_message_new_method_return(m);
            if (r) {
                dbus_connection_send(c, r, NULL);
                dbus_message_unref(r);
            }
        }
        return DBUS_HANDLER_RESULT_HANDLED;
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

/* ---- waiting ------------------------------------------------------------- */

/* dispatch until settle_ms passed without a new event, at most max_ms */
static void collect(int settle, int max_ms) {
    long long start = now_ms();
    last_activity_ms = start;
    while (!stop_flag) {
        long long now = now_ms();
        long long quiet_left = last_activity_ms + settle - now;
        long long max_left = start + max_ms - now;
        long long wait = quiet_left < max_left ? quiet_left : max_left;
        if (wait <= 0) break;
        if (!dbus_connection_read_write_dispatch(conn, (int)wait))
            die("connection to the session bus was lost");
        while (dbus_connection_dispatch(conn) == DBUS_DISPATCH_DATA_REMAINS)
            ;
    }
    fflush(stdout);
}

/* send a method call and dispatch (so that calls to owned names are answered)
 * until the reply comes; returns the reply, which may be NULL (caller unrefs) */
static DBusMessage* send_and_wait(DBusMessage* m) {
    DBusPendingCall* pc = NULL;
    if (!dbus_connection_send_with_reply(conn, m, &pc, timeout_ms) || !pc)
        die("cannot send a method call");
    dbus_message_unref(m);
    while (!dbus_pending_call_get_completed(pc)) {
        if (stop_flag) exit(1);
        if (!dbus_connection_read_write_dispatch(conn, 50))
            die("connection to the session bus was lost");
    }
    DBusMessage* r = dbus_pending_call_steal_reply(pc);
    dbus_pending_call_unref(pc);
    return r;
}

/* send_and_wait(); returns the reply (caller unrefs) or NULL after printing ERROR */
static DBusMessage* call(DBusMessage* m) {
    DBusMessage* r = send_and_wait(m);
    if (!r) die("no reply");
    if (dbus_message_get_type(r) == DBUS_MESSAGE_TYPE_ERROR) {
        const char* text = "";
        dbus_message_get_args(r, NULL, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
        printf("ERROR\t%s\t", dbus_message_get_error_name(r));
        free((void*)last_error);
        last_error = strdup(dbus_message_get_error_name(r));
        put_json_string(stdout, text);
        putchar('\n');
        dbus_message_unref(r);
        failures++;
        return NULL;
    }
    return r;
}

/* like call(), but an error reply is returned as NULL without a message */
static DBusMessage* call_quiet(DBusMessage* m) {
    DBusMessage* r = send_and_wait(m);
    if (r && dbus_message_get_type(r) == DBUS_MESSAGE_TYPE_ERROR) {
        dbus_message_unref(r);
        r = NULL;
    }
    return r;
}

static int name_has_owner(const char* name) {
    DBusError err;
    dbus_error_init(&err);
    int has = dbus_bus_name_has_owner(conn, name, &err);
    if (dbus_error_is_set(&err)) {
        dbus_error_free(&err);
        return 0;
    }
    return has;
}

static void wait_name(const char* name) {
    long long end = now_ms() + timeout_ms;
    while (!name_has_owner(name)) {
        if (now_ms() > end || stop_flag) {
            printf("FAIL\twait-name\t%s\n", name);
            fflush(stdout);
            exit(1);
        }
        dbus_connection_read_write_dispatch(conn, 100);
    }
    printf("NAME\t%s\n", name);
}

/* ---- input-context helpers ---------------------------------------------- */

static DBusMessage* im_call(const char* method) {
    DBusMessage* m = dbus_message_new_method_call(fcitx_name, IM_PATH, IM_IFACE, method);
    if (!m) die("out of memory");
    return m;
}

static DBusMessage* ic_call(const char* method) {
    if (!ic_path[0]) die("'%s' needs an input context: run 'ic' first", method);
    DBusMessage* m = dbus_message_new_method_call(fcitx_name, ic_path, IC_IFACE, method);
    if (!m) die("out of memory");
    return m;
}

static void simple(DBusMessage* m) {
    DBusMessage* r = call(m);
    if (r) dbus_message_unref(r);
}

struct keyname {
    const char* name;
    uint32_t sym;
};
static const struct keyname keynames[] = {
    {"space", 0x20},       {"Return", 0xff0d},    {"Enter", 0xff0d},
    {"BackSpace", 0xff08}, {"Escape", 0xff1b},    {"Tab", 0xff09},
    {"Delete", 0xffff},    {"Home", 0xff50},      {"Left", 0xff51},
    {"Up", 0xff52},        {"Right", 0xff53},     {"Down", 0xff54},
    {"Page_Up", 0xff55},   {"Page_Down", 0xff56}, {"End", 0xff57},
    {"KP_Up", 0xff97},     {"KP_Down", 0xff99},   {"Shift_L", 0xffe1},
    {"Control_L", 0xffe3}, {"Alt_L", 0xffe9},     {NULL, 0}};

static int parse_key(const char* name, uint32_t* sym, uint32_t* state) {
    *state = 0;
    for (;;) {
        if (strncmp(name, "ctrl+", 5) == 0) {
            *state |= 4;
            name += 5;
        } else if (strncmp(name, "shift+", 6) == 0) {
            *state |= 1;
            name += 6;
        } else if (strncmp(name, "alt+", 4) == 0) {
            *state |= 8;
            name += 4;
        } else if (strncmp(name, "super+", 6) == 0) {
            *state |= 0x40;
            name += 6;
        } else
            break;
    }
    for (const struct keyname* k = keynames; k->name; k++)
        if (strcmp(k->name, name) == 0) {
            *sym = k->sym;
            return 1;
        }
    if (strncmp(name, "KP_", 3) == 0 && name[3] >= '0' && name[3] <= '9' && !name[4]) {
        *sym = 0xffb0 + (uint32_t)(name[3] - '0');
        return 1;
    }
    if (strncmp(name, "0x", 2) == 0 && name[2]) {
        char* end;
        unsigned long v = strtoul(name + 2, &end, 16);
        if (*end) return 0;
        *sym = (uint32_t)v;
        return 1;
    }
    if (name[0] && !name[1] && (unsigned char)name[0] >= 0x20 && (unsigned char)name[0] < 0x7f) {
        *sym = (unsigned char)name[0];
        return 1;
    }
    return 0;
}

static long long slowest_key(void) {
    long long slowest = 0;
    for (int k = 0; k < keys_seen; ++k)
        if (key_ms[k] > slowest) slowest = key_ms[k];
    return slowest;
}

static void send_key(uint32_t sym, uint32_t state, int release) {
    DBusMessage* m = ic_call("ProcessKeyEvent");
    uint32_t keycode = 0, t = 0;
    int32_t type = release ? 1 : 0;
    dbus_message_append_args(m, DBUS_TYPE_UINT32, &sym, DBUS_TYPE_UINT32, &keycode,
                             DBUS_TYPE_UINT32, &state, DBUS_TYPE_INT32, &type, DBUS_TYPE_UINT32, &t,
                             DBUS_TYPE_INVALID);
    long long start = now_ms();
    DBusMessage* r = call(m);
    if (!r) return;
    int32_t ret = -1;
    dbus_message_get_args(r, NULL, DBUS_TYPE_INT32, &ret, DBUS_TYPE_INVALID);
    dbus_message_unref(r);
    const long long took = now_ms() - start;
    printf("KEY\t0x%x\t%u\t%s\t%d\t%lld\n", sym, state, release ? "release" : "press", ret, took);
    if (keys_seen == key_ms_room) {
        key_ms_room = key_ms_room ? 2 * key_ms_room : 64;
        key_ms = realloc(key_ms, sizeof(long long) * (size_t)key_ms_room);
        if (!key_ms) die("out of memory");
    }
    key_ms[keys_seen++] = took;
    if (!release && sent && !sent_answered) keys_while_sent++;
}

/* prints the answer of a call: "REPLY <args>" or "ERROR <name> <text>" */
static void print_answer(DBusMessage* r) {
    if (dbus_message_get_type(r) == DBUS_MESSAGE_TYPE_ERROR) {
        const char* text = "";
        dbus_message_get_args(r, NULL, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
        printf("ERROR\t%s\t", dbus_message_get_error_name(r));
        put_json_string(stdout, text);
        putchar('\n');
        return;
    }
    printf("REPLY");
    put_args(stdout, r);
    putchar('\n');
}

static void on_sent_answer(DBusPendingCall* pc, void* data) {
    (void)data;
    DBusMessage* r = dbus_pending_call_steal_reply(pc);
    if (r) {
        print_answer(r);
        dbus_message_unref(r);
    }
    /* an earlier send's answer is printed too, but only the last is awaited */
    if (pc == sent) sent_answered = 1;
    last_activity_ms = now_ms();
}

static void press(uint32_t sym, uint32_t state) {
    send_key(sym, state, 0);
    collect(settle_ms, max_step_ms);
    send_key(sym, state, 1);
    collect(settle_ms / 4 + 1, max_step_ms);
}

/* fcitx's CPU time (user + system) in milliseconds, -1 when unknown */
static long long fcitx_cpu_ms(void) {
    DBusMessage* m =
        dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "GetConnectionUnixProcessID");
    const char* name = fcitx_name;
    uint32_t pid = 0;
    if (!m) die("out of memory");
    dbus_message_append_args(m, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    DBusMessage* r = call_quiet(m);
    if (!r || !dbus_message_get_args(r, NULL, DBUS_TYPE_UINT32, &pid, DBUS_TYPE_INVALID)) {
        if (r) dbus_message_unref(r);
        return -1;
    }
    dbus_message_unref(r);
    char path[64], line[1024];
    snprintf(path, sizeof path, "/proc/%u/stat", pid);
    FILE* f = fopen(path, "r");
    if (!f) return -1;
    const int got = fgets(line, sizeof line, f) != NULL;
    fclose(f);
    const char* p = got ? strrchr(line, ')') : NULL; /* the name may hold blanks */
    unsigned long long utime = 0, stime = 0;
    if (!p ||
        sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
        return -1;
    return (long long)((utime + stime) * 1000 / (unsigned long long)sysconf(_SC_CLK_TCK));
}

/* ---- main ------------------------------------------------------------------ */

static int need(int i, int argc, int n, const char* cmd) {
    if (i + n >= argc) die("'%s' needs %d argument(s)", cmd, n);
    return 1;
}

/* Calls fn(path, arg) for every regular file directly in DIR. */
static void for_each_file(const char* dir, void (*fn)(const char*, long), long arg) {
    DIR* d = opendir(dir);
    if (!d) die("cannot list %s", dir);
    struct dirent* e;
    while ((e = readdir(d)) != NULL) {
        char path[4096];
        struct stat st;
        snprintf(path, sizeof path, "%s/%s", dir, e->d_name);
        if (lstat(path, &st) == 0 && S_ISREG(st.st_mode)) fn(path, arg);
    }
    closedir(d);
}

static void cut_file(const char* path, long bytes) {
    struct stat st;
    if (stat(path, &st) == 0 && st.st_size > bytes && truncate(path, bytes) != 0)
        die("cannot cut %s", path);
}

/* The process hold-locks started. */
static pid_t lock_holder;

static void take_file_lock(const char* path, long unused) {
    (void)unused;
    struct flock lock = {0};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0 || fcntl(fd, F_OFD_SETLKW, &lock) != 0) _exit(1);
}

static void hold_locks(const char* dir) {
    int ready[2];
    if (lock_holder > 0 || pipe(ready) != 0) die("cannot hold the locks of %s", dir);
    const pid_t parent = getpid();
    lock_holder = fork();
    if (lock_holder < 0) die("cannot fork");
    if (lock_holder == 0) {
        close(ready[0]);
        for_each_file(dir, take_file_lock, 0);
        if (write(ready[1], "x", 1) != 1) _exit(1);
        while (getppid() == parent) sleep(1);
        _exit(0);
    }
    close(ready[1]);
    char c;
    const int got = read(ready[0], &c, 1) == 1;
    close(ready[0]);
    if (!got) die("cannot hold the locks of %s", dir);
}

/* glibc's mutex on x86-64 and the other 64-bit ports: lock word (the
 * owner's thread id), count, owner, users, kind. */
static void held_copy(const char* path, long unused) {
    (void)unused;
    char tmp[4096];
    char buf[4096] = {0};
    snprintf(tmp, sizeof tmp, "%s.copy", path);
    FILE* in = fopen(path, "rb");
    if (!in) die("cannot copy %s", path);
    const size_t n = fread(buf, 1, sizeof buf, in);
    fclose(in);
    const int32_t held[5] = {1, 1, 1, 1, 1 | 16 | 128}; /* recursive, robust, shared */
    if (n >= 40) memcpy(buf, held, sizeof held);
    FILE* out = fopen(tmp, "wb");
    if (!out || fwrite(buf, 1, n, out) != n || fclose(out) != 0 || rename(tmp, path) != 0)
        die("cannot copy %s", path);
}

int main(int argc, char** argv) {
    int display = 0;
    const char* d = getenv("DISPLAY");
    if (d && strchr(d, ':')) display = atoi(strchr(d, ':') + 1);

    setvbuf(stdout, NULL, _IOLBF, 0);
    signal(SIGTERM, on_signal);
    signal(SIGINT, on_signal);

    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; i++) {
        if (strcmp(argv[i], "--no-signals") == 0) {
            want_signals = 0;
            continue;
        }
        if (strcmp(argv[i], "--hang") == 0) {
            hang_owner = 1;
            continue;
        }
        if (i + 1 >= argc) die("option %s needs a value", argv[i]);
        if (strcmp(argv[i], "--display") == 0)
            display = atoi(argv[++i]);
        else if (strcmp(argv[i], "--own") == 0) {
            if (n_owned == 16) die("too many --own");
            owned[n_owned++] = argv[++i];
        } else if (strcmp(argv[i], "--settle") == 0)
            settle_ms = atoi(argv[++i]);
        else if (strcmp(argv[i], "--panel-mask") == 0)
            panel_mask = (int)(strtoul(argv[++i], NULL, 16) & 0xff);
        else if (strcmp(argv[i], "--max-step") == 0)
            max_step_ms = atoi(argv[++i]);
        else if (strcmp(argv[i], "--timeout") == 0)
            timeout_ms = atoi(argv[++i]);
        else
            die("unknown option %s", argv[i]);
    }
    snprintf(fcitx_name, sizeof fcitx_name, "org.fcitx.Fcitx-%d", display);

    DBusError err;
    dbus_error_init(&err);
    conn = dbus_bus_get_private(DBUS_BUS_SESSION, &err);
    if (!conn) die("cannot reach the session bus: %s", err.message);
    dbus_connection_set_exit_on_disconnect(conn, FALSE);
    dbus_connection_add_filter(conn, filter, NULL, NULL);
    if (want_signals) {
        dbus_bus_add_match(conn, "type='signal',interface='" IC_IFACE "'", NULL);
        dbus_bus_add_match(conn, "type='signal',interface='" KIM_IFACE "'", NULL);
        dbus_bus_add_match(conn, "type='signal',interface='" IM_IFACE "'", NULL);
    }

    for (int k = 0; k < n_owned; k++) {
        int r = dbus_bus_request_name(conn, owned[k], DBUS_NAME_FLAG_DO_NOT_QUEUE, &err);
        if (r != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
            die("cannot own %s%s%s", owned[k], dbus_error_is_set(&err) ? ": " : "",
                dbus_error_is_set(&err) ? err.message : "");
        printf("OWNED\t%s\n", owned[k]);
    }

    for (; i < argc && !stop_flag; i++) {
        const char* cmd = argv[i];
        if (strcmp(cmd, "wait-name") == 0 && need(i, argc, 1, cmd)) {
            wait_name(argv[++i]);
        } else if (strcmp(cmd, "wait-fcitx") == 0) {
            wait_name(fcitx_name);
        } else if (strcmp(cmd, "ic") == 0 || strcmp(cmd, "ic-app") == 0) {
            const char* app = "fcitx_drive";
            if (strcmp(cmd, "ic-app") == 0 && need(i, argc, 1, cmd)) app = argv[++i];
            DBusMessage* m = im_call("CreateICv3");
            int32_t pid = (int32_t)getpid();
            dbus_message_append_args(m, DBUS_TYPE_STRING, &app, DBUS_TYPE_INT32, &pid,
                                     DBUS_TYPE_INVALID);
            /* fcitx owns its bus name a moment before its D-Bus front end has
             * registered /inputmethod: retry while the object is unknown */
            DBusMessage* r = NULL;
            long long end = now_ms() + timeout_ms;
            for (;;) {
                DBusMessage* copy = dbus_message_copy(m);
                r = call_quiet(copy);
                if (r || now_ms() > end || stop_flag) break;
                dbus_connection_read_write_dispatch(conn, 100);
            }
            dbus_message_unref(m);
            if (!r) {
                printf("FAIL\tic\tCreateICv3 was not answered\n");
                exit(1);
            }
            int32_t id;
            dbus_bool_t enabled;
            uint32_t k1, s1, k2, s2;
            if (!dbus_message_get_args(r, &err, DBUS_TYPE_INT32, &id, DBUS_TYPE_BOOLEAN, &enabled,
                                       DBUS_TYPE_UINT32, &k1, DBUS_TYPE_UINT32, &s1,
                                       DBUS_TYPE_UINT32, &k2, DBUS_TYPE_UINT32, &s2,
                                       DBUS_TYPE_INVALID))
                die("unexpected CreateICv3 reply: %s", err.message);
            dbus_message_unref(r);
            snprintf(ic_path, sizeof ic_path, "/inputcontext_%d", id);
            printf("IC\t%d\t%s\ttrigger=0x%x/%u,0x%x/%u\n", id, enabled ? "true" : "false", k1, s1,
                   k2, s2);
        } else if (strcmp(cmd, "caps") == 0 && need(i, argc, 1, cmd)) {
            DBusMessage* m = ic_call("SetCapacity");
            uint32_t caps = (uint32_t)strtoul(argv[++i], NULL, 0);
            dbus_message_append_args(m, DBUS_TYPE_UINT32, &caps, DBUS_TYPE_INVALID);
            simple(m);
        } else if (strcmp(cmd, "focusin") == 0)
            simple(ic_call("FocusIn"));
        else if (strcmp(cmd, "focusout") == 0)
            simple(ic_call("FocusOut"));
        else if (strcmp(cmd, "enable") == 0)
            simple(ic_call("EnableIC"));
        else if (strcmp(cmd, "close") == 0)
            simple(ic_call("CloseIC"));
        else if (strcmp(cmd, "reset") == 0)
            simple(ic_call("Reset"));
        else if (strcmp(cmd, "destroy") == 0) {
            simple(ic_call("DestroyIC"));
            ic_path[0] = 0;
        } else if (strcmp(cmd, "activate") == 0)
            simple(im_call("ActivateIM"));
        else if (strcmp(cmd, "inactivate") == 0)
            simple(im_call("InactivateIM"));
        else if (strcmp(cmd, "toggle") == 0)
            simple(im_call("ToggleIM"));
        else if (strcmp(cmd, "setim") == 0 && need(i, argc, 1, cmd)) {
            DBusMessage* m = im_call("SetCurrentIM");
            const char* name = argv[++i];
            dbus_message_append_args(m, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
            simple(m);
        } else if (strcmp(cmd, "getim") == 0 || strcmp(cmd, "state") == 0) {
            int is_im = strcmp(cmd, "getim") == 0;
            DBusMessage* r = call(im_call(is_im ? "GetCurrentIM" : "GetCurrentState"));
            if (r) {
                printf("%s", is_im ? "IM" : "STATE");
                put_args(stdout, r);
                putchar('\n');
                dbus_message_unref(r);
            }
        } else if (strcmp(cmd, "type") == 0 && need(i, argc, 1, cmd)) {
            for (const unsigned char* p = (const unsigned char*)argv[++i]; *p; p++) {
                if (*p < 0x20 || *p >= 0x7f) die("'type' takes ASCII text only");
                press(*p, 0);
            }
            continue;
        } else if (strcmp(cmd, "key") == 0 && need(i, argc, 1, cmd)) {
            uint32_t sym, state;
            if (!parse_key(argv[++i], &sym, &state)) die("unknown key '%s'", argv[i]);
            press(sym, state);
            continue;
        } else if ((strcmp(cmd, "call") == 0 || strcmp(cmd, "send") == 0) &&
                   need(i, argc, 4, cmd)) {
            const int send_only = strcmp(cmd, "send") == 0;
            DBusMessage* m =
                dbus_message_new_method_call(argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]);
            if (!m) die("bad call arguments");
            i += 4;
            DBusMessageIter it;
            dbus_message_iter_init_append(m, &it);
            while (i + 1 < argc && argv[i + 1][0] && argv[i + 1][1] == ':' &&
                   strchr("siub", argv[i + 1][0])) {
                const char* a = argv[++i];
                const char* val = a + 2;
                if (a[0] == 's') {
                    dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &val);
                } else if (a[0] == 'i') {
                    int32_t v = (int32_t)strtol(val, NULL, 0);
                    dbus_message_iter_append_basic(&it, DBUS_TYPE_INT32, &v);
                } else if (a[0] == 'u') {
                    uint32_t v = (uint32_t)strtoul(val, NULL, 0);
                    dbus_message_iter_append_basic(&it, DBUS_TYPE_UINT32, &v);
                } else {
                    dbus_bool_t v = atoi(val) != 0;
                    dbus_message_iter_append_basic(&it, DBUS_TYPE_BOOLEAN, &v);
                }
            }
            if (send_only) {
                if (sent) dbus_pending_call_unref(sent);
                sent = NULL;
                sent_answered = 0;
                keys_while_sent = 0;
                if (!dbus_connection_send_with_reply(conn, m, &sent, timeout_ms) || !sent ||
                    !dbus_pending_call_set_notify(sent, on_sent_answer, NULL, NULL))
                    die("cannot send a method call");
                dbus_message_unref(m);
                if (dbus_pending_call_get_completed(sent) && !sent_answered)
                    on_sent_answer(sent, NULL);
                continue;
            }
            const int failures_before = failures;
            free((void*)last_error);
            last_error = NULL;
            DBusMessage* r = call(m);
            if (r) {
                printf("REPLY");
                put_args(stdout, r);
                putchar('\n');
                dbus_message_unref(r);
            }
            if (expected_error) {
                failures = failures_before;
                if (last_error && strcmp(last_error, expected_error) == 0) {
                    printf("OK\terror\t%s\n", expected_error);
                } else {
                    printf("FAIL\texpected the error %s\n", expected_error);
                    failures++;
                }
                expected_error = NULL;
            }
        } else if (strcmp(cmd, "await-reply") == 0 && need(i, argc, 1, cmd)) {
            const int min_keys = atoi(argv[++i]);
            if (!sent) die("'await-reply' without a 'send'");
            while (!sent_answered && !stop_flag)
                if (!dbus_connection_read_write_dispatch(conn, 50))
                    die("connection to the session bus was lost");
            if (keys_while_sent >= min_keys) {
                printf("OK\tawaited\t%d keys meanwhile\n", keys_while_sent);
            } else {
                printf("FAIL\tawaited\t%d keys meanwhile, not %d\n", keys_while_sent, min_keys);
                failures++;
            }
            continue;
        } else if (strcmp(cmd, "expect-keys-under") == 0 && need(i, argc, 1, cmd)) {
            const long long bound = atoll(argv[++i]);
            const long long slowest = slowest_key();
            printf("KEYS\t%d\t%lld\n", keys_seen, slowest);
            if (keys_seen == 0 || slowest >= bound) {
                printf("FAIL\tkeys\t%d answered, the slowest in %lld ms, not under %lld\n",
                       keys_seen, slowest, bound);
                failures++;
            }
            keys_seen = 0;
            continue;
        } else if (strcmp(cmd, "expect-keys-mostly-under") == 0 && need(i, argc, 3, cmd)) {
            const long long bound = atoll(argv[i + 1]);
            const int allowed = atoi(argv[i + 2]);
            const long long ceiling = atoll(argv[i + 3]);
            i += 3;
            const long long slowest = slowest_key();
            int over = 0;
            for (int k = 0; k < keys_seen; ++k) over += key_ms[k] >= bound;
            printf("KEYS\t%d\t%lld\t%d\n", keys_seen, slowest, over);
            if (keys_seen == 0 || over > allowed || slowest >= ceiling) {
                printf(
                    "FAIL\tkeys\t%d answered, %d in %lld ms or more (at most %d), the slowest in "
                    "%lld ms (under %lld)\n",
                    keys_seen, over, bound, allowed, slowest, ceiling);
                failures++;
            }
            keys_seen = 0;
            continue;
        } else if (strcmp(cmd, "expect-error") == 0 && need(i, argc, 1, cmd)) {
            expected_error = argv[++i];
            continue;
        } else if ((strcmp(cmd, "sleep") == 0 || strcmp(cmd, "hold") == 0) &&
                   need(i, argc, 1, cmd)) {
            int ms = atoi(argv[++i]);
            if (ms <= 0) {
                while (!stop_flag) collect(1000, 1000);
            } else {
                collect(ms, ms);
            }
            continue;
        } else if (strcmp(cmd, "touch") == 0 && need(i, argc, 1, cmd)) {
            FILE* f = fopen(argv[++i], "a");
            if (!f || fclose(f) != 0) die("cannot make %s", argv[i]);
            continue;
        } else if (strcmp(cmd, "remove") == 0 && need(i, argc, 1, cmd)) {
            if (unlink(argv[++i]) != 0) die("cannot remove %s", argv[i]);
            continue;
        } else if (strcmp(cmd, "cut-files") == 0 && need(i, argc, 2, cmd)) {
            const char* dir = argv[++i];
            for_each_file(dir, cut_file, atol(argv[++i]));
            continue;
        } else if (strcmp(cmd, "held-copies") == 0 && need(i, argc, 1, cmd)) {
            for_each_file(argv[++i], held_copy, 0);
            continue;
        } else if (strcmp(cmd, "hold-locks") == 0 && need(i, argc, 1, cmd)) {
            hold_locks(argv[++i]);
            continue;
        } else if (strcmp(cmd, "release-locks") == 0) {
            if (lock_holder > 0) {
                kill(lock_holder, SIGKILL);
                waitpid(lock_holder, NULL, 0);
                lock_holder = 0;
            }
            continue;
        } else if (strcmp(cmd, "note") == 0 && need(i, argc, 1, cmd)) {
            printf("NOTE\t");
            put_json_string(stdout, argv[++i]);
            putchar('\n');
            continue;
        } else if (strcmp(cmd, "cands") == 0) {
            for (int k = 0; k < n_shown; k++) free(shown[k]);
            free(shown);
            shown = n_cands ? malloc(sizeof(char*) * (size_t)n_cands) : NULL;
            n_shown = 0;
            for (int k = 0; shown && k < n_cands; k++) shown[n_shown++] = strdup(cands[k]);
            printf("CANDS\t%d", n_cands);
            for (int k = 0; k < n_cands; k++) {
                putchar('\t');
                put_json_string(stdout, cands[k]);
            }
            putchar('\n');
            continue;
        } else if ((strcmp(cmd, "expect-commit") == 0 || strcmp(cmd, "expect-commit-cand") == 0) &&
                   need(i, argc, 1, cmd)) {
            const char* want = argv[++i];
            if (strcmp(cmd, "expect-commit-cand") == 0) {
                const int n = atoi(want);
                want = n >= 1 && n <= n_shown ? shown[n - 1] : "<no such candidate>";
            }
            const char* got = committed ? committed : "";
            if (strcmp(want, got) == 0) {
                printf("OK\tcommit\t");
                put_json_string(stdout, got);
            } else {
                printf("FAIL\tcommit\texpected ");
                put_json_string(stdout, want);
                printf(" got ");
                put_json_string(stdout, got);
                failures++;
            }
            putchar('\n');
            free(committed);
            committed = NULL;
            committed_len = 0;
            continue;
        } else if (strcmp(cmd, "expect-nocommit") == 0) {
            if (committed_len == 0) {
                printf("OK\tnocommit\n");
            } else {
                printf("FAIL\tnocommit\tgot ");
                put_json_string(stdout, committed);
                putchar('\n');
                failures++;
            }
            continue;
        } else if (strcmp(cmd, "expect-first") == 0 && need(i, argc, 1, cmd)) {
            const char* want = argv[++i];
            const int ok = n_cands > 0 && strcmp(cands[0], want) == 0;
            printf("%s\tfirst\t", ok ? "OK" : "FAIL");
            put_json_string(stdout, want);
            if (!ok) {
                printf("\tfirst is ");
                put_json_string(stdout, n_cands > 0 ? cands[0] : "");
                failures++;
            }
            putchar('\n');
            continue;
        } else if (strcmp(cmd, "choose") == 0 && need(i, argc, 1, cmd)) {
            const char* want = argv[++i];
            int found = -1;
            for (int k = 0; k < n_cands && k < 9 && found < 0; k++)
                if (strcmp(cands[k], want) == 0) found = k;
            if (found < 0) {
                printf("FAIL\tchoose\t");
                put_json_string(stdout, want);
                printf("\tnot among the first %d candidates\n", n_cands < 9 ? n_cands : 9);
                failures++;
                continue;
            }
            press((uint32_t)('1' + found), 0);
            continue;
        } else if (strcmp(cmd, "mark") == 0) {
            for (int k = 0; k < n_marked; k++) free(marked[k]);
            free(marked);
            marked = n_cands ? malloc(sizeof(char*) * (size_t)n_cands) : NULL;
            n_marked = 0;
            for (int k = 0; marked && k < n_cands; k++) marked[n_marked++] = strdup(cands[k]);
            continue;
        } else if (strcmp(cmd, "expect-at") == 0 && need(i, argc, 3, cmd)) {
            const int n = atoi(argv[i + 1]);
            const char* want = argv[i + 2];
            const int want_flag = atoi(argv[i + 3]);
            i += 3;
            if (want[0] == '@') {
                const int k = atoi(want + 1);
                want = k >= 1 && k <= n_marked ? marked[k - 1] : "<no such marked candidate>";
            }
            const int ok = n >= 1 && n <= n_cands && strcmp(cands[n - 1], want) == 0 &&
                           cand_flags[n - 1] == want_flag;
            printf("%s\tat\t%d\t", ok ? "OK" : "FAIL", n);
            put_json_string(stdout, want);
            printf("\t%d", want_flag);
            if (!ok) {
                printf("\tis ");
                put_json_string(stdout, n >= 1 && n <= n_cands ? cands[n - 1] : "");
                printf("\t%d", n >= 1 && n <= n_cands ? cand_flags[n - 1] : -1);
                failures++;
            }
            putchar('\n');
            continue;
        } else if (strcmp(cmd, "expect-no-cloud") == 0) {
            printf("%s\tno-cloud\t%d seen\n", cloud_seen ? "FAIL" : "OK", cloud_seen);
            failures += cloud_seen != 0;
            cloud_seen = 0;
            continue;
        } else if (strcmp(cmd, "cpu-idle") == 0 && need(i, argc, 2, cmd)) {
            const int ms = atoi(argv[i + 1]), max = atoi(argv[i + 2]);
            i += 2;
            const long long before = fcitx_cpu_ms();
            collect(ms, ms);
            const long long used = fcitx_cpu_ms() - before;
            const int ok = before >= 0 && used <= max;
            printf("%s\tCPU\t%lld\t%d\n", ok ? "OK" : "FAIL", used, ms);
            failures += !ok;
            continue;
        } else if (strcmp(cmd, "expect-cand") == 0 && need(i, argc, 1, cmd)) {
            const char* want = argv[++i];
            int found = -1;
            for (int k = 0; k < n_cands && found < 0; k++)
                if (strcmp(cands[k], want) == 0) found = k;
            if (found >= 0) {
                printf("OK\tcand\t");
                put_json_string(stdout, want);
                printf("\tat %d of %d\n", found + 1, n_cands);
            } else {
                printf("FAIL\tcand\t");
                put_json_string(stdout, want);
                printf("\tnot among %d candidates\n", n_cands);
                failures++;
            }
            continue;
        } else {
            die("unknown command or missing argument: %s", cmd);
        }
        collect(settle_ms, max_step_ms);
    }
    collect(settle_ms, max_step_ms);
    fflush(stdout);
    dbus_connection_close(conn);
    dbus_connection_unref(conn);
    return failures ? 1 : 0;
}
