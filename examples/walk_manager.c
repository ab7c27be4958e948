/* Walk: prints every object under an OID of an SNMPv2c agent. Each answer's callback sends the next
 * GET-BULK, from the last object it read, until an object lies outside the subtree or the agent's
 * view ends.
 * Build: cc walk_manager.c $(pkg-config --cflags --libs vek_nms_sdk) -o walk_manager
 * Run:   ./walk_manager 127.0.0.1 1161 1.3.6.1.2.1.2 */
#include <inttypes.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <vek_nms_sdk.h>

#define REPETITIONS 10u      /* objects asked for by one GET-BULK */
#define TIMEOUT_MS 2000u     /* a request's time-out */
#define HELD_RETRY_US 100000 /* the SDK sends at most 300 new requests a second */
#define POLL_US 10000        /* how often main looks whether the walk has ended */
#define LOG_LEVEL_ERROR 3u

enum walk_state { WALKING, HELD, DONE, FAILED };

static const char *g_ip;
static uint16_t g_port;
static const char *g_root;    /* the subtree's OID */
static api_snmp_varbind g_at; /* the last object read: the next GET-BULK starts there */
static unsigned g_count;
static atomic_int g_state;

/* Compares two dotted OIDs arc by arc: negative, zero or positive. */
static int oid_compare(const char *a, const char *b) {
    while (*a != '\0' && *b != '\0') {
        char *a_end, *b_end;
        unsigned long x = strtoul(a, &a_end, 10), y = strtoul(b, &b_end, 10);
        if (x != y)
            return x < y ? -1 : 1;
        a = *a_end == '.' ? a_end + 1 : a_end;
        b = *b_end == '.' ? b_end + 1 : b_end;
    }
    return (*a != '\0') - (*b != '\0');
}

static int in_subtree(const char *oid) {
    size_t len = strlen(g_root);
    return strncmp(oid, g_root, len) == 0 && oid[len] == '.';
}

static void print_object(const api_snmp_varbind *vb) {
    const api_snmp_value *v = &vb->value;
    printf("%s = ", vb->oid);
    switch (vb->type) {
    case API_SNMP_BER_INTEGER: printf("%" PRId32 "\n", v->i32); break;
    case API_SNMP_BER_UINTEGER32:
    case API_SNMP_BER_COUNTER32:
    case API_SNMP_BER_GAUGE32:
    case API_SNMP_BER_TIMETICKS: printf("%" PRIu32 "\n", v->u32); break;
    case API_SNMP_BER_COUNTER64: printf("%" PRIu64 "\n", v->u64); break;
    case API_SNMP_BER_IPADDRESS:
        printf("%u.%u.%u.%u\n", (unsigned)(v->u32 >> 24), (unsigned)(v->u32 >> 16 & 0xFFu),
               (unsigned)(v->u32 >> 8 & 0xFFu), (unsigned)(v->u32 & 0xFFu));
        break;
    case API_SNMP_BER_NULL: printf("NULL\n"); break;
    default: printf("%.*s\n", (int)vb->value_len, v->str); /* strings, OIDs, exceptions */
    }
}

/* Asks for the objects after g_at. A request the flow limit holds back is sent again by main. */
static void send_next(void) {
    api_snmp_err rc = api_snmp_get_bulk(g_ip, g_port, NULL, 0, REPETITIONS, &g_at, 1, TIMEOUT_MS, NULL);
    if (rc == API_SNMP_ERR_NO_RESOURCE)
        atomic_store(&g_state, HELD);
    else if (rc != API_SNMP_OK)
        atomic_store(&g_state, FAILED);
}

/* Reads one answer's objects in order; 1 when the walk goes on. */
static int take_objects(const api_snmp_response *r) {
    for (uint8_t i = 0; i < r->var_count; i++) {
        const api_snmp_varbind *vb = &r->varbinds[i];
        if (vb->type == API_SNMP_BER_END_OF_MIB_VIEW || !in_subtree(vb->oid)) {
            atomic_store(&g_state, DONE);
            return 0;
        }
        if (oid_compare(vb->oid, g_at.oid) <= 0) { /* a broken agent must not loop us forever */
            fprintf(stderr, "the agent answered %s after %s\n", vb->oid, g_at.oid);
            atomic_store(&g_state, FAILED);
            return 0;
        }
        print_object(vb);
        g_count++;
        api_snmp_create_get_varbind(vb->oid, &g_at);
    }
    return 1;
}

static void on_response(const char *ip, uint16_t port, const char *user, api_snmp_cmd_type cmd,
                        const api_snmp_response *r, void *user_data) {
    (void)ip; (void)port; (void)user; (void)cmd; (void)user_data;
    if (r->error != API_SNMP_OK || r->error_status != 0 || r->var_count == 0) {
        fprintf(stderr, "walk failed: %s\n", r->error != API_SNMP_OK ? api_snmp_error_to_str(r->error)
                                                                   : api_snmp_error_status_to_str(r->error_status));
        atomic_store(&g_state, FAILED);
        return;
    }
    if (take_objects(r))
        send_next();
}

int main(int argc, char **argv) {
    api_snmp_agent_config config = {API_SNMP_V2C, "public"};
    g_ip = argc > 1 ? argv[1] : "127.0.0.1";
    g_port = (uint16_t)(argc > 2 ? atoi(argv[2]) : 161);
    g_root = argc > 3 ? argv[3] : "1.3.6.1.2.1.1";
    api_snmp_init();
    api_snmp_set_log_level(LOG_LEVEL_ERROR);
    api_snmp_register_response_callback(on_response);
    if (api_snmp_agent_create(g_ip, g_port, &config) != API_SNMP_OK ||
        api_snmp_create_get_varbind(g_root, &g_at) != API_SNMP_OK)
        return 1;
    send_next();
    for (int state; (state = atomic_load(&g_state)) == WALKING || state == HELD;) {
        usleep(state == HELD ? HELD_RETRY_US : POLL_US);
        if (state == HELD) {
            atomic_store(&g_state, WALKING);
            send_next();
        }
    }
    api_snmp_destroy();
    printf("%u objects\n", g_count);
    return atomic_load(&g_state) == DONE ? 0 : 1;
}
