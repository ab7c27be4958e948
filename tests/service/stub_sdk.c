/* A library that has the manager library's file name but only its first two operations: the HTTP
 * service must report the first operation it cannot find. */
void api_snmp_init(void);
void api_snmp_destroy(void);

void api_snmp_init(void) {}
void api_snmp_destroy(void) {}
