/* walk: every object of a subtree, read with GET-NEXT (SNMPv1) or GET-BULK (SNMPv2c/v3) requests,
 * each sent from the response callback of the one before. */
#ifndef VEK_APPS_CLI_WALK_H
#define VEK_APPS_CLI_WALK_H

#include "apps/cli/cli_options.h"

/* Walks the subtree of the request's OID and prints one line per object, in the format of get, then
 * a count line. The walk ends cleanly at the first OID outside the subtree, at endOfMibView and, for
 * SNMPv1, at noSuchName; an agent that answers an OID that does not increase ends it with an error.
 * When the subtree holds nothing, the OID itself is read with a GET (it may name a leaf). Returns
 * the exit code. */
int cli_run_walk(const cli_request &request);

#endif
